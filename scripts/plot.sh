#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Draws the two performance plots of docs/PERFORMANCE.md from the benchmarks' CSV output:
#   convert-throughput.png  MB/s against story size: the library, the expat floor, libxslt
#                           (bench_convert --csv)
#   gateway-latency.png     p50 and p99 latency against the stories per second offered, mode 2
#                           with acknowledgement after delivery, 64 KB blocks, pipelined: the
#                           paced rows and the saturating one (bench_gateway --csv)
# Usage: scripts/plot.sh CONVERT_CSV GATEWAY_CSV [OUTDIR]   (OUTDIR defaults to docs/img)
#   A CSV named "-" leaves its plot as it is, so one benchmark can be run again alone.
# Installs gnuplot-nox when missing; nothing else needs it.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [ $# -lt 2 ]; then
  sed -n '2,10p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
  exit 2
fi
convert_csv="$1"
gateway_csv="$2"
out="${3:-$root/docs/img}"
"$root/scripts/deps.sh" gnuplot-nox
mkdir -p "$out"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Columns are found by name, so a benchmark may add columns without breaking the plot.
column() {  # column FILE NAME -> the 1-based index of NAME in FILE's header
  head -n 1 "$1" | tr ',' '\n' | grep -n -x "$2" | cut -d: -f1
}

plots=""
if [ "$convert_csv" != "-" ]; then
  c_size=$(column "$convert_csv" size)
  c_lib=$(column "$convert_csv" library_mbps)
  c_floor=$(column "$convert_csv" floor_mbps)
  c_xslt=$(column "$convert_csv" libxslt_mbps)
  awk -F, -v s="$c_size" -v l="$c_lib" -v f="$c_floor" -v x="$c_xslt" \
    'NR > 1 { print $s / 1024, $l, $f, $x }' "$convert_csv" > "$work/convert.dat"
  gnuplot <<EOF
set terminal pngcairo size 900,560 font "sans,11"
set grid
set output "$out/convert-throughput.png"
set key bottom right
set title "Conversion throughput against story size (NITF + RDF bytes, CPU time)"
set logscale x 10
set xlabel "NITF document size (KB)"
set ylabel "MB/s"
set yrange [0:*]
plot "$work/convert.dat" using 1:3 with linespoints lw 2 title "expat floor (parse only)", \
     "" using 1:2 with linespoints lw 2 title "library (parse, template, getters)", \
     "" using 1:4 with linespoints lw 2 title "libxslt (same page)"
EOF
  plots=" $out/convert-throughput.png"
fi

if [ "$gateway_csv" != "-" ]; then
  g_mode=$(column "$gateway_csv" mode)
  g_block=$(column "$gateway_csv" block)
  g_pipe=$(column "$gateway_csv" pipelined)
  g_ack=$(column "$gateway_csv" ack_after_delivery)
  g_rate=$(column "$gateway_csv" stories_per_s)
  g_p50=$(column "$gateway_csv" p50_us)
  g_p99=$(column "$gateway_csv" p99_us)
  awk -F, -v m="$g_mode" -v b="$g_block" -v p="$g_pipe" -v a="$g_ack" -v r="$g_rate" \
    -v p50="$g_p50" -v p99="$g_p99" \
    'NR > 1 && $m == 2 && $b == 65535 && $p == 1 && $a == 1 { print $r, $p50 / 1000, $p99 / 1000 }' \
    "$gateway_csv" | sort -n > "$work/latency.dat"
  gnuplot <<EOF
set terminal pngcairo size 900,560 font "sans,11"
set grid
set output "$out/gateway-latency.png"
set title "Gateway latency against offered load (mode 2, ack after delivery, 64 KB blocks)"
set key top right
set logscale x 10
set logscale y 10
set xlabel "stories per second (10 KB stories; the right-most point is saturating)"
set ylabel "latency (ms)"
plot "$work/latency.dat" using 1:2 with linespoints lw 2 title "p50", \
     "" using 1:3 with linespoints lw 2 title "p99"
EOF
  plots="$plots $out/gateway-latency.png"
fi
echo "wrote${plots:- nothing}"
