#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Fails on a name that breaks CONTRIBUTING.md's one style: clang-tidy's naming check
# (.clang-tidy) over every source of src/ and tools/ in the build's compile_commands.json,
# and the header guards of src/ and tools/, which clang-tidy does not know our form of.
# Usage: scripts/check_naming.sh [BUILD_DIR [ROOT]]
#   BUILD_DIR  a configured build (default ROOT/build); ROOT  the source tree (default this
#   checkout). CLANG_TIDY names the binary, NAMING_JOBS the parallel runs (2).
# Exit status: 0 clean, 1 a violation, 2 no compile_commands.json, 77 no clang-tidy.
set -euo pipefail
root=${2:-$(cd "$(dirname "$0")/.." && pwd)}
build=${1:-$root/build}
tidy=${CLANG_TIDY:-clang-tidy}
bad=0

# src/<folder>/<file>.h: OWCLIENT_<FOLDER>_<FILE>_H; tools/common: OWTOOL_<FILE>_H (the
# namespace owtool); tools/ow<tool>/<file>.h: OW<TOOL>_<FILE>_H.
expected_guard() {
  local rel=$1 folder file
  folder=$(cut -d/ -f2 <<<"$rel")
  file=$(basename "$rel" .h)
  case $rel in
    src/*) echo "OWCLIENT_${folder}_${file}_H" ;;
    tools/common/*) echo "OWTOOL_${file}_H" ;;
    tools/*) echo "OW${folder#ow}_${file}_H" ;;
  esac | tr '[:lower:]' '[:upper:]'
}

while IFS= read -r header; do
  rel=${header#"$root"/}
  want=$(expected_guard "$rel")
  have=$(grep -m1 -E '^#ifndef ' "$header" | awk '{print $2}' || true)
  if [ "$have" != "$want" ]; then
    echo "$rel: header guard ${have:-missing}, want $want" >&2
    bad=1
  fi
done < <(find "$root/src" "$root/tools" -name '*.h' 2>/dev/null | sort)

if ! command -v "$tidy" >/dev/null; then
  echo "$tidy not found (scripts/deps.sh installs it): names not checked" >&2
  exit 77
fi
if [ ! -f "$build/compile_commands.json" ]; then
  echo "$build/compile_commands.json missing: configure the build first" >&2
  exit 2
fi

mapfile -t sources < <(grep -oE '"file": *"[^"]+"' "$build/compile_commands.json" |
                       sed -E 's/^"file": *"//; s/"$//' |
                       grep -E "^$root/(src|tools)/" | sort -u)
if [ ${#sources[@]} -eq 0 ]; then
  echo "no source of src/ or tools/ in $build/compile_commands.json" >&2
  exit 2
fi

# A header's violation is reported once per source that includes it: show each once. GCC's
# link-time optimisation flags in the compile commands are unknown to clang: not an error.
out=$(mktemp)
trap 'rm -f "$out"' EXIT
tidy_failed=0
if ! printf '%s\n' "${sources[@]}" |
     xargs -d '\n' -P "${NAMING_JOBS:-2}" -n 8 "$tidy" -p "$build" --quiet \
       --extra-arg=-Wno-ignored-optimization-argument >"$out" 2>&1; then
  tidy_failed=1 bad=1
fi
grep -E ': (error|warning): ' "$out" | sed "s#^$root/##" | sort -u >&2 || true
if [ $tidy_failed -ne 0 ] && ! grep -qE ': (error|warning): ' "$out"; then
  cat "$out" >&2  # clang-tidy failed without a diagnostic: show what it said
fi

[ $bad -eq 0 ] && echo "names follow CONTRIBUTING.md (${#sources[@]} sources)"
exit $bad
