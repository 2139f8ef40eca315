#!/usr/bin/env bash
# Compares showfile with the programs a user would run instead, on the same
# files: GNU cat, busybox's, toybox's and uutils' (which splices into a
# pipe), and a floor, a static program that only opens, reads, writes and
# exits. Wall time (hyperfine) on 1 KiB to /dev/null with no shell, and on
# 1 MiB and 256 MiB into a pipe; on the 1 KiB file, the instructions run
# (callgrind) and the system calls made (strace). Each figure is said
# against its target where there is one. It builds nothing.
#
#   bench/compare.sh [SHOWFILE [FLOOR]]   default build/bench/showfile and
#                                         build/bench/bench/floor
set -eu
program=$(realpath "${1:-build/bench/showfile}")
floor=$(realpath "${2:-build/bench/bench/floor}")
for tool in hyperfine valgrind strace; do
  command -v $tool >/dev/null || { echo "compare.sh needs $tool (make bench installs it)" >&2; exit 1; }
done

# name command: the programs, each run in the directory of test.txt.
names=(floor showfile "GNU cat" busybox toybox uutils)
commands=("$floor" "$program" "cat test.txt" "busybox cat test.txt" "toybox cat test.txt"
  "/usr/lib/cargo/bin/coreutils/cat test.txt")
for i in "${!names[@]}"; do
  word=${commands[$i]%% *}
  if ! command -v "$word" >/dev/null; then
    echo "(${names[$i]} is not installed: left out)"
    unset "names[$i]" "commands[$i]"
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
make_file() {
  mkdir -p "$work/$1"
  yes 'The quick brown fox jumps over the lazy dog. 0123456789' | head -c "$2" >"$work/$1/test.txt"
}
make_file 1KiB 1024
make_file 1MiB $((1 << 20))
make_file 256MiB $((256 << 20))

# mean_ms DIR COMMAND RUNS [HYPERFINE-OPTION]: mean wall time, from the CSV.
mean_ms() {
  (cd "$1" && hyperfine ${4:-} --warmup 3 --min-runs "$3" --export-csv "$work/t.csv" "$2" >/dev/null 2>&1)
  awk -F, 'NR == 2 { printf "%.3f", $2 * 1000 }' "$work/t.csv"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
verdict() { awk -v r="$1" -v limit="$2" 'BEGIN { print (r <= limit) ? "meets" : "MISSES" }'; }

header() {
  local line="| $1 |" rule="|---|" name
  for name in "${names[@]}"; do
    line+=" $name |" rule+="---:|"
  done
  echo "$line"
  echo "$rule"
}

echo "Wall time in ms (hyperfine, mean), and each against the floor"
echo
header "file"
declare -A ms
for row in "1KiB no-shell" "1MiB pipe" "256MiB pipe"; do
  read -r size how <<<"$row"
  runs=$([ $size = 256MiB ] && echo 20 || echo 200)
  line="| $size, $([ $how = pipe ] && echo "into a pipe" || echo "to /dev/null, no shell") |"
  for i in "${!names[@]}"; do
    if [ $how = pipe ]; then
      t=$(mean_ms "$work/$size" "${commands[$i]} | cat >/dev/null" $runs)
    else
      t=$(mean_ms "$work/$size" "${commands[$i]}" 300 -N)
    fi
    ms[$size,${names[$i]}]=$t
    line+=" $t ($(ratio "$t" "${ms[$size,floor]}")x) |"
  done
  echo "$line"
done

instructions() {
  (cd "$work/1KiB" && valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null) |
    awk '/Collected :/ { print $NF }'
}
syscalls() {
  (cd "$work/1KiB" && strace -c -f -o "$work/s.txt" "$@" >/dev/null)
  awk '$NF == "total" { print $4 + 1 }' "$work/s.txt" # and the execve strace -c leaves out
}
echo
echo "On the 1 KiB file: instructions (callgrind) and system calls (strace -f, execve included)"
echo
header "1 KiB"
declare -A count calls
line="| instructions |" line2="| system calls |"
for i in "${!names[@]}"; do
  # shellcheck disable=SC2086
  count[${names[$i]}]=$(instructions ${commands[$i]})
  # shellcheck disable=SC2086
  calls[${names[$i]}]=$(syscalls ${commands[$i]})
  line+=" ${count[${names[$i]}]} |" line2+=" ${calls[${names[$i]}]} |"
done
echo "$line"
echo "$line2"

cat_instructions=$(ratio "${count[showfile]}" "${count[GNU cat]}")
big=$(ratio "${ms[256MiB,showfile]}" "${ms[256MiB,GNU cat]}")
echo
echo "| target | measured | |"
echo "|---|---:|---|"
echo "| 1 KiB: instructions at most 0.15x GNU cat's | ${cat_instructions}x | $(verdict "$cat_instructions" 0.15) |"
echo "| 1 KiB: at most 20 system calls | ${calls[showfile]} | $(verdict "${calls[showfile]}" 20) |"
echo "| 256 MiB into a pipe: wall time at most 1.5x GNU cat's | ${big}x | $(verdict "$big" 1.5) |"
