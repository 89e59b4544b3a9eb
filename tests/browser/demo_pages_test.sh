#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The demo's run, then its pages as a browser shows them: owwired serves the example
# stories, owgateway receives them in mode 2 into a fresh folder (the options of
# scripts/demo.sh), and headless Chromium loads index.html and one story page. The index
# must list every story with its headline and a link to its page; the story page must show
# its headline as its title and heading.
# Usage: demo_pages_test.sh OWWIRED OWGATEWAY SOURCE_DIR ADDRESS
# Exit status: 0 passed, 1 failed, 77 skipped (no Chromium installed).
set -euo pipefail
owwired=$1
owgateway=$2
root=$3
address=$4

browser=""
for candidate in chromium chromium-browser; do
  if command -v "$candidate" >/dev/null 2>&1; then
    browser=$(command -v "$candidate")
    break
  fi
done
if [ -z "$browser" ]; then
  echo "SKIP: chromium is not installed (scripts/deps.sh installs chromium and chromium-driver)"
  exit 77
fi

work=$(mktemp -d /tmp/owclient-browser-XXXXXX)
server=""
cleanup() {
  if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  for log in "$work"/*.log; do
    [ -s "$log" ] && { echo "--- $(basename "$log")"; grep -v dbus "$log" | tail -n 20; }
  done
  exit 1
}

stories="$root/examples/stories"
out="$work/out"
count=$(find "$stories" -maxdepth 1 -name '*.xml' | wc -l)
[ "$count" -gt 0 ] || fail "no stories in $stories"

"$owwired" --address "$address" --spool "$stories" --exit-when-done 2>"$work/owwired.log" &
server=$!
for _ in $(seq 1 100); do
  grep -q "listening on" "$work/owwired.log" && break
  sleep 0.05
done
grep -q "listening on" "$work/owwired.log" || fail "owwired did not start listening"

timeout 20 "$owgateway" --server "$address" --mode 2 \
  --template "$root/examples/templates/story.tmpl" --xlate "$root/examples/templates/story.xlate" \
  --out "$out" --count "$count" --send-done --fresh --progress 0 -q >"$work/owgateway.log" 2>&1 ||
  fail "owgateway ended with status $?"
wait "$server" || true
server=""

# The DOM as Chromium parsed the page, serialised back to HTML (UTF-8).
dump_dom() {
  timeout 25 "$browser" --headless --no-sandbox --disable-gpu --disable-background-networking \
    --disable-quic --no-first-run --disable-component-update --disable-sync \
    --user-data-dir="$work/profile-$2" --dump-dom "file://$1" 2>>"$work/chromium.log"
}

headline_of() { sed -n 's:.*<hl1>\(.*\)</hl1>.*:\1:p' "$1" | head -n 1; }

[ -f "$out/index.html" ] || fail "no index.html in the output folder"
index=$(dump_dom "$out/index.html" index) || fail "chromium could not load index.html"
grep -q "<p>$count stories received since the start, 0 found in the folder at the start; the newest $count listed.</p>" <<<"$index" || fail "the index does not count $count stories"
[ "$(grep -c '<li>' <<<"$index")" -eq "$count" ] || fail "the index does not list $count stories"
for xml in "$stories"/*.xml; do
  base=$(basename "$xml" .xml)
  headline=$(headline_of "$xml")
  [ -n "$headline" ] || fail "no headline in $xml"
  grep -qF "<a href=\"$base.htm\">$headline</a>" <<<"$index" ||
    fail "the index has no link to $base.htm named [$headline]"
  [ -s "$out/$base.htm" ] || fail "the index links to $base.htm, which was not written"
done

# A story with letters outside ASCII: they must come through the gateway and the browser's
# decoding unchanged.
page_base=harbour-bridge
headline=$(headline_of "$stories/$page_base.xml")
page=$(dump_dom "$out/$page_base.htm" story) || fail "chromium could not load $page_base.htm"
grep -qF "<title>$headline</title>" <<<"$page" || fail "$page_base.htm: no title [$headline]"
grep -qF "<h1>$headline</h1>" <<<"$page" || fail "$page_base.htm: no heading [$headline]"

echo "PASS: index.html lists $count stories; $page_base.htm shows [$headline]"
