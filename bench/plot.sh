#!/usr/bin/env bash
# Runs the TextLength benchmark and plots throughput against text size for
# the four scanners into PNG, build/bench/text_length.png unless told
# otherwise. Builds nothing. The plot BENCHMARKS.md shows is
# bench/text_length.png, copied from a run on purpose.
#
#   bench/plot.sh [BENCHMARK [PNG]]   BENCHMARK defaults to build/bench/bench/text_length_bench
set -eu
bench=${1:-build/bench/bench/text_length_bench}
png=${2:-build/bench/text_length.png}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$bench" --benchmark_format=csv --benchmark_min_time=0.2 >"$work/all.csv" 2>/dev/null
# name like "BM_TextLength/65536" -> one file per scanner: size, GB/s
for scanner in TextLength OneTestAPass ByteAtATime strlen; do
  awk -F, -v s="\"BM_$scanner/" 'index($1, s) == 1 {
    split($1, n, "/"); sub(/"/, "", n[2]); print n[2], $6 / 1e9 }' "$work/all.csv" >"$work/$scanner.dat"
  echo "$scanner (GB/s by size):" $(tr '\n' ' ' <"$work/$scanner.dat")
done

gnuplot <<PLOT
set terminal pngcairo size 800,500 font ",11"
set output "$png"
set title "Counting a text's bytes: throughput against text size"
set xlabel "text size (bytes)"
set ylabel "GB/s"
set logscale xy
set format x "%.0b %BB"
set key top left
set grid
plot "$work/TextLength.dat" with linespoints lw 2 title "TextLength (4-byte groups, 4 per pass)", \
     "$work/OneTestAPass.dat" with linespoints lw 2 title "the same, 1 group per pass", \
     "$work/ByteAtATime.dat" with linespoints lw 2 title "byte at a time", \
     "$work/strlen.dat" with linespoints lw 2 title "C library strlen (vector)"
PLOT
echo "wrote $png"
