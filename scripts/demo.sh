#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The demo: owwired serves the sample stories of examples/ on 127.0.0.1, owgateway
# receives them in mode 2 (raw files and HTML) and writes them into a folder with an
# index.html; then a summary of what arrived.
# Usage: scripts/demo.sh [--out DIR] [--address 127.x.y.z]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/demo-out"
address=127.0.0.1
while [ $# -gt 0 ]; do
  case "$1" in
    --out) out="$2"; shift 2 ;;
    --address) address="$2"; shift 2 ;;
    -h|--help) sed -n '2,6p' "$0"; exit 0 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done

# The wire port must be free before anything is built: a taken one would only show much
# later, as a server that never starts.
port_taken() {
  (exec 3<>"/dev/tcp/$1/39030") 2>/dev/null
}
if port_taken "$address"; then
  echo "demo: $address:39030 is in use; stop what listens there or pick another address with --address 127.0.0.N" >&2
  exit 1
fi

"$root/scripts/deps.sh"
# The same build folder and settings as scripts/test.sh, so that the demo, the tests and
# an install share one build instead of undoing each other's.
build="$root/build"
echo "Building owwired and owgateway in $build (the first time takes a few minutes)..."
cmake -S "$root" -B "$build" -DOWCLIENT_WERROR=ON >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target owwired owgateway |
  grep --line-buffered -E '^\[ *[0-9]+%\] (Built target|Linking)' || true

stories="$root/examples/stories"
count=$(find "$stories" -maxdepth 1 -name '*.xml' | wc -l)
rm -rf "$out"
mkdir -p "$out"

"$build/tools/owwired/owwired" --address "$address" --spool "$stories" --exit-when-done \
  2> "$out/owwired.log" &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
# owwired logs "listening on" once clients can connect.
for _ in $(seq 1 100); do
  grep -q "listening on" "$out/owwired.log" 2>/dev/null && break
  if ! kill -0 "$server" 2>/dev/null; then
    echo "demo: owwired did not start: $(tail -n 1 "$out/owwired.log")" >&2
    exit 1
  fi
  sleep 0.05
done
if ! grep -q "listening on" "$out/owwired.log" 2>/dev/null; then
  echo "demo: owwired did not start listening on $address:39030 (see $out/owwired.log)" >&2
  exit 1
fi

"$build/tools/owgateway/owgateway" --server "$address" --mode 2 \
  --template "$root/examples/templates/story.tmpl" --xlate "$root/examples/templates/story.xlate" \
  --output-dir "$out" --count "$count" --send-done --fresh --progress 1

wait $server 2>/dev/null || true
trap - EXIT
echo
echo "Received into $out:"
for f in "$out"/*.htm; do
  [ -e "$f" ] || continue
  title=$(sed -n 's:.*<title>\(.*\)</title>.*:\1:p' "$f" | head -n 1 |
    sed 's/&lt;/</g; s/&gt;/>/g; s/&quot;/"/g; s/&#39;/'"'"'/g; s/&amp;/\&/g')
  printf '  %-28s %s\n' "$(basename "$f")" "$title"
done
echo "Open $out/index.html in a browser to read them."
