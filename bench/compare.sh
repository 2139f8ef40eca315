#!/usr/bin/env bash
# Compares showfile with cat on the same files, both writing into a pipe:
# wall time (hyperfine) on 1 KiB, 1 MiB and 256 MiB, and on the 1 KiB file the
# instructions executed (callgrind) and the system calls made (strace).
# It builds nothing: point it at a built program.
#
#   bench/compare.sh [PROGRAM]     PROGRAM defaults to build/bench/showfile
set -eu
program=$(realpath "${1:-build/bench/showfile}")
for tool in hyperfine valgrind strace; do
  command -v $tool >/dev/null || { echo "compare.sh needs $tool (make bench installs it)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A file of the given size with no zero byte, in a directory of its own.
make_file() {
  mkdir -p "$work/$1"
  yes 'The quick brown fox jumps over the lazy dog. 0123456789' | head -c "$2" >"$work/$1/test.txt"
}
make_file 1KiB 1024
make_file 1MiB $((1 << 20))
make_file 256MiB $((256 << 20))

# mean wall time in ms of COMMAND run in DIR, from hyperfine's CSV
mean_ms() {
  (cd "$1" && hyperfine ${4:-} --warmup 3 --min-runs "$3" --export-csv "$work/t.csv" "$2" >/dev/null 2>&1)
  awk -F, 'NR == 2 { printf "%.2f", $2 * 1000 }' "$work/t.csv"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
verdict() { awk -v r="$1" -v limit="$2" 'BEGIN { print (r <= limit) ? "meets" : "MISSES" }'; }

echo "| file | showfile (ms) | cat (ms) | showfile / cat |"
echo "|---|---:|---:|---:|"
for size in 1KiB 1MiB 256MiB; do
  runs=$([ $size = 256MiB ] && echo 20 || echo 200)
  ours=$(mean_ms "$work/$size" "$program | cat >/dev/null" $runs)
  theirs=$(mean_ms "$work/$size" "cat test.txt | cat >/dev/null" $runs)
  echo "| $size | $ours | $theirs | $(ratio "$ours" "$theirs") |"
  [ $size = 256MiB ] && big=$(ratio "$ours" "$theirs")
done
# Start-up alone: no shell and no pipe, standard output to /dev/null.
ours=$(mean_ms "$work/1KiB" "$program" 300 -N)
theirs=$(mean_ms "$work/1KiB" "cat test.txt" 300 -N)
echo "| 1KiB, no shell, to /dev/null | $ours | $theirs | $(ratio "$ours" "$theirs") |"

instructions() {
  (cd "$work/1KiB" && valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null) |
    awk '/Collected :/ { print $NF }'
}
syscalls() {
  (cd "$work/1KiB" && strace -c -f -o "$work/s.txt" "$@" >/dev/null)
  awk '$NF == "total" { print $4 }' "$work/s.txt"
}
our_instructions=$(instructions "$program")
cat_instructions=$(instructions cat test.txt)
our_calls=$(syscalls "$program")
cat_calls=$(syscalls cat test.txt)
instruction_ratio=$(ratio "$our_instructions" "$cat_instructions")

echo
echo "| 1 KiB file | showfile | cat | showfile / cat |"
echo "|---|---:|---:|---:|"
echo "| instructions (callgrind) | $our_instructions | $cat_instructions | $instruction_ratio |"
echo "| system calls (strace -c -f) | $our_calls | $cat_calls | $(ratio "$our_calls" "$cat_calls") |"
echo
echo "| target | measured | |"
echo "|---|---:|---|"
echo "| 1 KiB: instructions at most 0.15x cat's | ${instruction_ratio}x | $(verdict "$instruction_ratio" 0.15) |"
echo "| 1 KiB: at most 20 system calls | $our_calls | $(verdict "$our_calls" 20) |"
echo "| 256 MiB: wall time at most 1.5x cat's | ${big}x | $(verdict "$big" 1.5) |"
