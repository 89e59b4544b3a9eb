#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the gateway_headlines example against owwired serving a folder of stories and
# checks that it prints the headline of every story, exactly as owconvert reads it from
# the story's file: the blocks were reassembled and converted without loss.
# Usage: gateway_headlines_test.sh EXAMPLE OWWIRED OWCONVERT STORIES ADDRESS
set -euo pipefail
example=$1 owwired=$2 owconvert=$3 stories=$4 address=$5
export LC_ALL=C

work=$(mktemp -d "${TMPDIR:-/tmp}/owclient-headlines.XXXXXX")
server=""
cleanup() {
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

count=0
for story in "$stories"/*.xml; do
  name=$(basename "$story")
  printf '%s: %s\n' "$name" "$("$owconvert" --field headline --markup "$story")" >>"$work/expected"
  count=$((count + 1))
done
[ "$count" -gt 0 ] || { echo "FAIL: no story in $stories" >&2; exit 1; }

# Small blocks of an odd size: every story spans several blocks, and blocks end inside
# multi-byte characters. --idle-exit: the server ends by itself should this script die
# before its cleanup.
"$owwired" --address "$address" --spool "$stories" --block-size 301 --idle-exit 30 \
  2>"$work/server.log" &
server=$!
for _ in $(seq 100); do
  grep -q "listening on" "$work/server.log" && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.1
done
grep -q "listening on" "$work/server.log" ||
  { cat "$work/server.log" >&2; echo "FAIL: owwired does not listen on $address" >&2; exit 1; }

status=0
timeout 60 "$example" "$address" "$count" >"$work/printed" 2>"$work/example.log" || status=$?
if [ "$status" -ne 0 ]; then
  cat "$work/example.log" >&2
  echo "FAIL: gateway_headlines exits with status $status" >&2
  exit 1
fi
if ! diff <(sort "$work/expected") <(sort "$work/printed") >"$work/diff"; then
  echo "FAIL: the headlines printed differ from the stories' (< expected, > printed):" >&2
  cat "$work/diff" "$work/example.log" >&2
  exit 1
fi
if [ -s "$work/example.log" ]; then
  echo "FAIL: gateway_headlines reported problems:" >&2
  cat "$work/example.log" >&2
  exit 1
fi
echo "$count headlines, as in the stories"
