#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the project and runs the whole test suite.
# Usage: scripts/test.sh [--sanitize address|thread | --clang-thread-safety] [--build-dir DIR]
#   (no option)            a RelWithDebInfo build in build/
#   --sanitize address     AddressSanitizer + UndefinedBehaviorSanitizer, in build-asan/
#   --sanitize thread      ThreadSanitizer, in build-tsan/
#   --clang-thread-safety  only builds the library with clang -Wthread-safety, in build-tsa/
# Warnings are errors. Installs missing Debian packages first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sanitize=""
build_dir=""
thread_safety=0
while [ $# -gt 0 ]; do
  case "$1" in
    --sanitize) sanitize="$2"; shift 2 ;;
    --build-dir) build_dir="$2"; shift 2 ;;
    --clang-thread-safety) thread_safety=1; shift ;;
    -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done
case "$sanitize" in
  "") [ $thread_safety -eq 1 ] && build_dir=${build_dir:-$root/build-tsa}
      build_dir=${build_dir:-$root/build} ;;
  address) build_dir=${build_dir:-$root/build-asan} ;;
  thread) build_dir=${build_dir:-$root/build-tsan} ;;
  *) echo "--sanitize takes address or thread" >&2; exit 2 ;;
esac

jobs=$(nproc 2>/dev/null || echo 2)

# The lock annotations are proved at compile time: nothing to run, so only the library.
if [ $thread_safety -eq 1 ]; then
  [ -z "$sanitize" ] || { echo "--clang-thread-safety takes no --sanitize" >&2; exit 2; }
  "$root/scripts/deps.sh" clang
  CC=clang CXX=clang++ cmake -S "$root" -B "$build_dir" -DOWCLIENT_WERROR=ON \
    -DOWCLIENT_THREAD_SAFETY=ON -DOWCLIENT_BUILD_TESTS=OFF -DOWCLIENT_BUILD_TOOLS=OFF \
    -DOWCLIENT_BUILD_EXAMPLES=OFF -DOWCLIENT_INSTALL=OFF >/dev/null
  cmake --build "$build_dir" -j "$jobs"
  exit 0
fi

"$root/scripts/deps.sh"
cmake -S "$root" -B "$build_dir" -DOWCLIENT_WERROR=ON -DOWCLIENT_SANITIZE="$sanitize" >/dev/null
cmake --build "$build_dir" -j "$jobs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
cd "$build_dir"
ctest --output-on-failure -j "$jobs"
