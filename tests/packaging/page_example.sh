#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs an example of a manual page and compares what it prints with the output the
# page shows, so that a page cannot promise what the library does not do.
# In the page source an example sits between the comment lines
#   .\" begin example NAME        .\" end example NAME
# and the output it prints between
#   .\" begin output NAME         .\" end output NAME
# Macro lines inside are dropped and the escapes of a literal display undone.
# Usage:
#   page_example.sh c|c++ PAGE NAME COMPILER "FLAGS" INCLUDE_DIR LIBRARY [ARG ...]
#       compiles the C or C++ example against the headers and the shared LIBRARY and
#       runs it; with OWWIRED, SPOOL and ADDRESS in the environment a wire server serves
#       SPOOL on ADDRESS meanwhile, and an ARG @ADDRESS@ is replaced by ADDRESS
#   page_example.sh template PAGE NAME OWCONVERT STORY.xml [TABLE_NAME]
#       renders the template example (and the table example TABLE_NAME of the same
#       page) through OWCONVERT
set -euo pipefail
kind=$1 page=$2 name=$3
shift 3
export LC_ALL=C.UTF-8

work=$(mktemp -d "${TMPDIR:-/tmp}/owclient-page.XXXXXX")
server=""
cleanup() {
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# --idle-exit: the server ends by itself should this script die before its cleanup.
start_server() {
  "$OWWIRED" --address "$ADDRESS" --spool "$SPOOL" --idle-exit 30 2>"$work/server.log" &
  server=$!
  for _ in $(seq 100); do
    grep -q "listening on" "$work/server.log" && return 0
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
  done
  cat "$work/server.log" >&2
  echo "FAIL: owwired does not listen on $ADDRESS" >&2
  exit 1
}

# extract KIND NAME: prints the block, unescaped.
extract() {
  awk -v begin=".\\\\\" begin $1 $2" -v end=".\\\\\" end $1 $2" '
    $0 == begin { inside = 1; found = 1; next }
    $0 == end { inside = 0; next }
    inside && !/^\./ { print }
    END { if (!found) exit 3 }' "$page" |
    sed -e 's/\\e/\\/g' -e 's/\\-/-/g' -e 's/\\&//g' -e "s/\\\\(aq/'/g"
}

extract example "$name" >"$work/example" ||
  { echo "FAIL: no example $name in $page" >&2; exit 1; }
extract output "$name" >"$work/expected" ||
  { echo "FAIL: no output of $name in $page" >&2; exit 1; }

case "$kind" in
  c | c++)
    compiler=$1 flags=$2 include=$3 library=$4
    shift 4
    if [ "$kind" = c ]; then std=(-std=c99 -Wpedantic) source=$work/example.c
    else std=(-std=c++11) source=$work/example.cc; fi
    cp "$work/example" "$source"
    # shellcheck disable=SC2086 # the flags are meant to split into words
    "$compiler" "${std[@]}" -Wall -Wextra -Werror $flags -I"$include" "$source" \
      -o "$work/program" "$library" -pthread -Wl,-rpath,"$(dirname "$library")" ||
      { echo "FAIL: the example $name of $page does not compile" >&2; exit 1; }
    args=()
    for arg in "$@"; do args+=("${arg//@ADDRESS@/${ADDRESS:-}}"); done
    if [ -n "${OWWIRED:-}" ]; then start_server; fi
    status=0
    timeout 60 "$work/program" "${args[@]}" >"$work/printed" || status=$?
    if [ "$status" -ne 0 ]; then
      echo "FAIL: the example $name of $page exits with $status" >&2
      cat "$work/printed" >&2
      exit 1
    fi
    ;;
  template)
    owconvert=$1 story=$2 table=${3:-}
    args=(-t "$work/example")
    if [ -n "$table" ]; then
      extract example "$table" >"$work/table" ||
        { echo "FAIL: no example $table in $page" >&2; exit 1; }
      args+=(-x "$work/table")
    fi
    "$owconvert" "${args[@]}" "$story" -o "$work/printed" ||
      { echo "FAIL: owconvert refuses the example $name of $page" >&2; exit 1; }
    ;;
  *) echo "unknown kind: $kind" >&2; exit 2 ;;
esac

if ! diff "$work/expected" "$work/printed" >"$work/diff"; then
  echo "FAIL: the example $name prints other than $page shows (< page, > printed):" >&2
  cat "$work/diff" >&2
  exit 1
fi
echo "$page: example $name prints what the page shows"
