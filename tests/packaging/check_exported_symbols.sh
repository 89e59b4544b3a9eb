#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Compares the dynamic symbols that a shared library defines with a committed list.
# Usage: check_exported_symbols.sh NM LIBRARY LIST
# LIST holds one mangled name a line, sorted byte-wise; '#' lines are comments. The
# linker's own markers (_init, _fini, _edata, _end, __bss_start) are not part of it.
set -euo pipefail
nm_tool=$1 library=$2 list=$3
export LC_ALL=C

expected=$(grep -v -e '^#' -e '^[[:space:]]*$' "$list")
if ! sort -c <<<"$expected" 2>/dev/null; then
  echo "FAIL: $list is not sorted (LC_ALL=C sort)" >&2
  exit 1
fi
# nm prints "address type name"; a versioned name ends in @VERSION or @@VERSION.
actual=$("$nm_tool" -D --defined-only "$library" | awk 'NF >= 3 { print $3 }' | sed 's/@.*//' |
  grep -v -x -E '_init|_fini|_edata|_end|__bss_start|__end__' | sort -u)
if [ -z "$actual" ]; then
  echo "FAIL: $nm_tool finds no defined dynamic symbol in $library" >&2
  exit 1
fi

show() {
  local name
  while read -r name; do
    [ -n "$name" ] || continue
    if command -v c++filt >/dev/null; then
      printf '  %s   %s\n' "$name" "$(c++filt "$name")"
    else
      printf '  %s\n' "$name"
    fi
  done
}

missing=$(comm -23 <(echo "$expected") <(echo "$actual"))
unexpected=$(comm -13 <(echo "$expected") <(echo "$actual"))
if [ -n "$missing" ] || [ -n "$unexpected" ]; then
  [ -z "$missing" ] || { echo "FAIL: listed but not exported:"; show <<<"$missing"; } >&2
  [ -z "$unexpected" ] || { echo "FAIL: exported but not listed:"; show <<<"$unexpected"; } >&2
  exit 1
fi
echo "$(wc -l <<<"$actual") exported symbols, as listed"
