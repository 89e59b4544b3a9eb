#!/usr/bin/env bash
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

"$root/scripts/deps.sh"
build="$root/build"
cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target owwired owgateway >/dev/null

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
  sleep 0.05
done

"$build/tools/owgateway/owgateway" --server "$address" --mode 2 \
  --template "$root/examples/templates/story.tmpl" --xlate "$root/examples/templates/story.xlate" \
  --out "$out" --count "$count" --send-done --fresh --progress 1

wait $server 2>/dev/null || true
trap - EXIT
echo
echo "Received into $out:"
for f in "$out"/*.htm; do
  [ -e "$f" ] || continue
  title=$(sed -n 's:.*<title>\(.*\)</title>.*:\1:p' "$f" | head -n 1)
  printf '  %-28s %s\n' "$(basename "$f")" "$title"
done
echo "Open $out/index.html in a browser to read them."
