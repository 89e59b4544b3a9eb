#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the benchmarks (RelWithDebInfo, no sanitizers) and runs one of them. Each prints its
# figures and ratios; none is part of the test suite.
#
# Usage: scripts/bench.sh convert [bench_convert options]   # conversion vs expat and libxslt,
#                                                           # peak RSS, owconvert -j 1 / -j 2
#        scripts/bench.sh gateway [bench_gateway options]   # gateway over loopback, idle CPU
#        scripts/bench.sh corpus OUTDIR COUNT XML_BYTES     # write a generated story corpus
# The build folder is $OWCLIENT_BENCH_BUILD (default: build-bench beside this folder).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${OWCLIENT_BENCH_BUILD:-$root/build-bench}"
what="${1:-}"
case "$what" in
  convert) target=bench_convert ;;
  gateway) target=bench_gateway ;;
  corpus) target=bench_corpus ;;
  *)
    sed -n '2,10p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
shift

# libxslt is the peer of the conversion benchmark only; the test build does not need it.
"$root/scripts/deps.sh" libxslt1-dev
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOWCLIENT_BUILD_BENCH=ON \
  -DOWCLIENT_SANITIZE= -DOWCLIENT_WERROR=ON >/dev/null
cmake --build "$build" --target "$target" -j2 >/dev/null
exec "$build/bench/$target" "$@"
