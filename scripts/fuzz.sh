#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the libFuzzer targets with clang (ASan + UBSan, in build-fuzz/) and runs each
# one for SECONDS over its seed corpus, one after another at low priority.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET ...]     (default: 30 seconds, every target)
#   Targets: client_port template xlate property_index xml_doc entities
# New inputs go to build-fuzz/corpus/<target>/ (kept between runs, never into the
# repository), a crashing input to build-fuzz/artifacts/<target>/. Exits non-zero when
# a target finds a fault; keep such an input in fuzz/corpus/<target>/ once fixed, where
# the normal test suite replays it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(client_port template xlate property_index xml_doc entities)
build_dir=$root/build-fuzz

"$root/scripts/deps.sh" clang libclang-rt-14-dev
CC=clang CXX=clang++ cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DOWCLIENT_BUILD_FUZZERS=ON -DOWCLIENT_BUILD_TESTS=OFF -DOWCLIENT_BUILD_TOOLS=OFF \
  -DOWCLIENT_BUILD_EXAMPLES=OFF -DOWCLIENT_BUILD_BENCH=OFF -DOWCLIENT_INSTALL=OFF \
  -DOWCLIENT_WERROR=ON >/dev/null
cmake --build "$build_dir" -j 2 --target owclient_fuzzers

# Inputs the harness reads only in part are kept short: the entity target converts at
# most 512 bytes (at every destination size), the others take the default 4096.
max_len_for() {
  case "$1" in
    entities) echo 512 ;;
    *) echo 4096 ;;
  esac
}

failed=()
for target in "${targets[@]}"; do
  work=$build_dir/corpus/$target
  artifacts=$build_dir/artifacts/$target
  mkdir -p "$work" "$artifacts"
  echo "== fuzz_$target for ${seconds} s"
  if ! nice -n 10 "$build_dir/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -max_len="$(max_len_for "$target")" -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "$work" "$root/fuzz/corpus/$target" \
      >"$build_dir/fuzz-$target.log" 2>&1; then
    failed+=("$target")
    tail -n 60 "$build_dir/fuzz-$target.log"
  fi
  # The run's last status line (executions, coverage, corpus) and its statistics.
  grep -E '^#[0-9]+[[:space:]]+(DONE|pulse|NEW|REDUCE)' "$build_dir/fuzz-$target.log" | tail -n 1 || true
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' \
    "$build_dir/fuzz-$target.log" || true
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]} (inputs in $build_dir/artifacts/)" >&2
  exit 1
fi
echo "fuzzing: no faults in ${#targets[@]} targets"
