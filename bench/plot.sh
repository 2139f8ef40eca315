#!/usr/bin/env bash
# Draws into DIR the pictures BENCHMARKS.md shows (copied into bench/ by
# hand from a run): text_length.png, the four scanners' throughput against
# text size, from a fresh run of BENCHMARK; time_pipe.png and time_file.png,
# each program's median time against the file's size, both axes logarithmic,
# from the times compare.sh kept in DIR/times.txt. Builds nothing.
#
#   bench/plot.sh [BENCHMARK [DIR]]   build/bench/bench/text_length_bench, build/bench
set -eu
bench=${1:-build/bench/bench/text_length_bench}
dir=${2:-build/bench}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$bench" --benchmark_format=csv --benchmark_min_time=0.2 >"$work/all.csv" 2>/dev/null
# name like "BM_TextLength/65536" -> one file per scanner: size, GB/s
for scanner in TextLength OneTestAPass ByteAtATime strlen; do
  awk -F, -v s="\"BM_$scanner/" 'index($1, s) == 1 {
    split($1, n, "/"); sub(/"/, "", n[2]); print n[2], $6 / 1e9 }' "$work/all.csv" >"$work/$scanner.dat"
  echo "$scanner (GB/s by size):" "$(tr '\n' ' ' <"$work/$scanner.dat")"
done

gnuplot <<PLOT
set terminal pngcairo size 800,500 font ",11"
set output "$dir/text_length.png"
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
echo "wrote $dir/text_length.png"

times=$dir/times.txt
if [ ! -s "$times" ]; then
  echo "no $times (bench/compare.sh keeps it): the time plots are left out"
  exit 0
fi
# times.txt: output, bytes, program, median, least, most, tab-separated.
# One file a program and output, the programs in compare.sh's order; the
# floor drawn dashed and showfile bold, so that the two stand out.
mapfile -t programs < <(cut -f3 "$times" | awk '!seen[$0]++')
# A tick at each size measured, named as people name it.
tics=$(cut -f2 "$times" | sort -nu | awk '{
  u = $1 >= 2^30 ? 2^30 : $1 >= 2^20 ? 2^20 : 2^10
  printf "%s\"%g %s\" %d", (NR > 1 ? ", " : ""), $1 / u, (u == 2^30 ? "GiB" : u == 2^20 ? "MiB" : "KiB"), $1 }')
range=$(cut -f2 "$times" | sort -n | sed -n '1p;$p' | tr '\n' ' ' | awk '{ print "[" $1 / 2 ":" $2 * 2 "]" }')
for how in pipe file; do
  plot=
  for i in "${!programs[@]}"; do
    awk -F'\t' -v how=$how -v name="${programs[$i]}" '$1 == how && $3 == name { print $2, $4 }' \
      "$times" >"$work/$how.$i.dat"
    case ${programs[$i]} in
    floor) style="lw 2 dt 2 lc rgb 'black'" ;;
    showfile) style="lw 4 lc rgb '#d62728'" ;;
    "GNU cat") style="lw 1.5 lc rgb '#1f77b4'" ;;
    busybox) style="lw 1.5 lc rgb '#2ca02c'" ;;
    toybox) style="lw 1.5 lc rgb '#ff7f0e'" ;;
    *) style="lw 1.5 lc rgb '#9467bd'" ;;
    esac
    plot+="${plot:+, }'$work/$how.$i.dat' with linespoints $style title '${programs[$i]}'"
  done
  [ $how = pipe ] && into="into a pipe (read by cat >/dev/null)" || into="into a file"
  gnuplot <<PLOT
set terminal pngcairo size 800,500 font ",11"
set output "$dir/time_$how.png"
set title "Showing test.txt $into: median wall time against file size"
set xlabel "file size (bytes)"
set ylabel "ms"
set logscale xy
set xrange $range
set xtics ($tics)
set format y "%g"
set key top left
set grid
plot $plot
PLOT
  echo "wrote $dir/time_$how.png"
done
