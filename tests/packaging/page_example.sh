#!/usr/bin/env bash
# Runs an example of a manual page and compares what it prints with the output the
# page shows, so that a page cannot promise what the library does not do.
# In the page source an example sits between the comment lines
#   .\" begin example NAME        .\" end example NAME
# and the output it prints between
#   .\" begin output NAME         .\" end output NAME
# Macro lines inside are dropped and the escapes of a literal display undone.
# Usage:
#   page_example.sh c PAGE NAME CC "CFLAGS" INCLUDE_DIR LIBRARY [ARG ...]
#       compiles the C example against the header and the shared LIBRARY and runs it
#   page_example.sh template PAGE NAME OWCONVERT STORY.xml [TABLE_NAME]
#       renders the template example (and the table example TABLE_NAME of the same
#       page) through OWCONVERT
set -euo pipefail
kind=$1 page=$2 name=$3
shift 3
export LC_ALL=C.UTF-8

work=$(mktemp -d "${TMPDIR:-/tmp}/owclient-page.XXXXXX")
trap 'rm -rf "$work"' EXIT

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
  c)
    cc=$1 cflags=$2 include=$3 library=$4
    shift 4
    cp "$work/example" "$work/example.c"
    # shellcheck disable=SC2086 # the flags are meant to split into words
    "$cc" -std=c99 -Wall -Wextra -Wpedantic -Werror $cflags -I"$include" "$work/example.c" \
      -o "$work/program" "$library" -Wl,-rpath,"$(dirname "$library")" ||
      { echo "FAIL: the example $name of $page does not compile" >&2; exit 1; }
    "$work/program" "$@" >"$work/printed" ||
      { echo "FAIL: the example $name of $page exits with $?" >&2; exit 1; }
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
