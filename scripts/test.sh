#!/usr/bin/env bash
# Builds the project and runs the whole test suite.
# Usage: scripts/test.sh [--sanitize address|thread] [--build-dir DIR]
#   (no option)          a RelWithDebInfo build in build/
#   --sanitize address   AddressSanitizer + UndefinedBehaviorSanitizer, in build-asan/
#   --sanitize thread    ThreadSanitizer, in build-tsan/
# Warnings are errors. Installs missing Debian packages first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sanitize=""
build_dir=""
while [ $# -gt 0 ]; do
  case "$1" in
    --sanitize) sanitize="$2"; shift 2 ;;
    --build-dir) build_dir="$2"; shift 2 ;;
    -h|--help) sed -n '2,8p' "$0"; exit 0 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done
case "$sanitize" in
  "") build_dir=${build_dir:-$root/build} ;;
  address) build_dir=${build_dir:-$root/build-asan} ;;
  thread) build_dir=${build_dir:-$root/build-tsan} ;;
  *) echo "--sanitize takes address or thread" >&2; exit 2 ;;
esac

"$root/scripts/deps.sh"
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S "$root" -B "$build_dir" -DOWCLIENT_WERROR=ON -DOWCLIENT_SANITIZE="$sanitize" >/dev/null
cmake --build "$build_dir" -j "$jobs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
cd "$build_dir"
ctest --output-on-failure -j "$jobs"
