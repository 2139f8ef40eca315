#!/usr/bin/env bash
# Measures showfile against the floor of its own design (floor.c) and the
# cats people use instead (GNU cat, busybox, toybox, uutils): files of
# 64 KiB to 256 MiB into a pipe and into a file, the programs in turn, round
# after round (rounds.c); on the largest, showfile's read against the
# floor's, the time to get its buffer after an idle spell and at once, and
# its peak resident memory; on 1 KiB, instructions (callgrind) and system
# calls (strace). Prints the tables and the targets with their verdicts, and
# keeps each median in TIMES for plot.sh. Builds nothing.
#
#   bench/compare.sh [SHOWFILE [FLOOR [TIMES]]]   build/bench/showfile,
#       build/bench/bench/floor (rounds beside it), times.txt beside SHOWFILE
#
# For a shorter run, SHOWFILE_BENCH_SIZES lists other sizes ("64K 4M"), and
# SHOWFILE_BENCH_ROUNDS sets the rounds of every row.
set -eu
program=$(realpath "${1:-build/bench/showfile}")
floor=$(realpath "${2:-build/bench/bench/floor}")
times=$(realpath "${3:-$(dirname "$program")/times.txt}")
rounds=$(dirname "$floor")/rounds
for tool in valgrind strace /usr/bin/time "$rounds"; do
  command -v "$tool" >/dev/null || { echo "compare.sh needs $tool (make bench installs and builds it)" >&2; exit 1; }
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
names=("${names[@]}") commands=("${commands[@]}")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# make_file DIR BYTES: test.txt of BYTES bytes of text, no zero byte in it.
make_file() {
  mkdir -p "$work/$1"
  yes 'The quick brown fox jumps over the lazy dog. 0123456789' | head -c "$2" >"$work/$1/test.txt"
}
bytes() { numfmt --from=iec "$1"; }
label() { sed 's/K$/ KiB/; s/M$/ MiB/; s/G$/ GiB/' <<<"$1"; }
# ms as people read them: three figures or so.
show_ms() { awk -v t="$1" 'BEGIN { printf (t < 10 ? "%.2f" : t < 100 ? "%.1f" : "%.0f"), t }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
verdict() { awk -v r="$1" -v limit="$2" 'BEGIN { print (r <= limit) ? "meets" : "MISSES" }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }
# spread [FORMAT] VALUE...: the median (least-most), each as FORMAT shows it
# (echo unless told); spread_ms the same of times.
spread() {
  local show=echo
  [ "$1" != show_ms ] || { show=$1 && shift; }
  local sorted=($(printf '%s\n' "$@" | sort -g))
  echo "$($show "$(median "$@")") ($($show "${sorted[0]}")-$($show "${sorted[-1]}"))"
}
spread_ms() { spread show_ms "$@"; }
# header FIRST: a table's first two lines, a column for each program.
header() {
  local line="| $1 |" rule="|---|" name
  for name in "${names[@]}"; do line+=" $name |" rule+="---:|"; done
  echo "$line"
  echo "$rule"
}

read -ra sizes <<<"${SHOWFILE_BENCH_SIZES:-64K 1M 16M 256M}"
make_file 1K 1024
for size in "${sizes[@]}"; do make_file "$size" "$(bytes "$size")"; done
largest=${sizes[-1]}

# The rounds a row gets: many where a run takes a millisecond or two and
# the load's jitter is most of it, fewer where each run takes long. rounds
# makes them whole turns of its order.
rounds_for() {
  local n=${#names[@]} b
  b=$(bytes "$1")
  if [ -n "${SHOWFILE_BENCH_ROUNDS:-}" ]; then echo "$SHOWFILE_BENCH_ROUNDS"
  elif [ "$b" -le $((16 << 20)) ]; then echo $((20 * n))
  else echo $((8 * n)); fi
}

echo "Wall time in ms, the median of the rounds (least-most); the programs in turn, each round starting one further on,"
echo "each following each other one equally often"
echo
header file | sed '1s/$/ showfile \/ floor |/; 2s/$/---:|/'
: >"$times"
declare -A ms against
for how in pipe file; do
  for size in "${sizes[@]}"; do
    [ $how = pipe ] && output=pipe || output=$work/out.file
    n=$(rounds_for "$size")
    mapfile -t results < <(cd "$work/$size" && "$rounds" "$n" "$output" "${commands[@]}")
    [ ${#results[@]} = ${#names[@]} ] || { echo "rounds failed on $size $how" >&2; exit 1; }
    row="$(label "$size") into a $how"
    line="| $row, $n rounds |"
    for i in "${!names[@]}"; do
      read -r median low high <<<"${results[$i]}"
      ms[$row,${names[$i]}]=$median
      line+=" $(show_ms "$median") ($(show_ms "$low")-$(show_ms "$high")) |"
      printf '%s\t%s\t%s\t%s\t%s\t%s\n' $how "$(bytes "$size")" "${names[$i]}" "$median" "$low" "$high" >>"$times"
    done
    against[$row]=$(ratio "${ms[$row,showfile]}" "${ms[$row,floor]}")
    echo "$line ${against[$row]}x |"
  done
done

# showfile's one read of the largest file, as strace times it, against the
# floor's, whose buffer starts on a huge page's first byte; seven of each,
# in turn.
read_ms() {
  (cd "$work/$largest" && strace -T -e trace=read -o "$work/read.trace" "$1" >/dev/null)
  sed -nE "s/^read\(.*= $(bytes "$largest") <([0-9.]+)>$/\1/p" "$work/read.trace" | awk '{ print $1 * 1000 }'
}
reads=() floor_reads=()
for _ in $(seq 7); do
  reads+=("$(read_ms "$program")")
  floor_reads+=("$(read_ms "$floor")")
done
echo
echo "The one read of $(label "$largest"), ms, median of 7 (least-most): showfile $(spread_ms "${reads[@]}")," \
  "the floor $(spread_ms "${floor_reads[@]}")"

# Getting the largest buffer (its MADV_POPULATE_WRITE, as strace times it)
# after three idle seconds, and again at once: a virtual machine whose
# balloon takes back freed memory (free page reporting) makes the first
# slow, and the second shows the cost when the memory is still there. What
# the balloon took back in those seconds is read where the kernel says it.
populate_ms() {
  (cd "$work/$largest" && strace -T -e trace=madvise -o "$work/madvise.trace" "$program" >/dev/null)
  sed -nE 's/.*MADV_POPULATE_WRITE.*<([0-9.]+)>$/\1/p' "$work/madvise.trace" | awk '{ print $1 * 1000 }'
}
reported=/sys/module/page_reporting/parameters/reported_kib
reported_kib() { cat $reported 2>/dev/null || echo 0; }
idle=() again=() taken=()
for _ in $(seq 7); do
  before=$(reported_kib)
  sleep 3
  taken+=($(($(reported_kib) - before)))
  idle+=("$(populate_ms)")
  again+=("$(populate_ms)")
done
echo "Getting showfile's $(label "$largest") buffer, ms, median of 7 (least-most): after 3 idle seconds" \
  "$(spread_ms "${idle[@]}"), at once after a run $(spread_ms "${again[@]}")"
[ ! -r $reported ] || echo "Freed memory the balloon took back in each idle spell: $(spread "${taken[@]}") KiB"
resident=$(cd "$work/$largest" && /usr/bin/time -v "$program" 2>&1 >/dev/null |
  awk -F': ' '/Maximum resident set size/ { print $2 }')
echo "Peak resident memory of showfile on $(label "$largest"): $resident KiB"

instructions() {
  (cd "$work/1K" && valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null) |
    awk '/Collected :/ { print $NF }'
}
syscalls() {
  (cd "$work/1K" && strace -c -f -o "$work/s.txt" "$@" >/dev/null)
  awk '$NF == "total" { print $4 + 1 }' "$work/s.txt" # and the execve strace -c leaves out
}
echo
echo "On a 1 KiB file: instructions (callgrind) and system calls (strace -f, execve included)"
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

drift=$(awk -v n="${count[showfile]}" 'BEGIN { printf "%.3f", n / 3942 }')
limit_kib=$(($(bytes "$largest") / 1024 + 4096))
echo
echo "| target | measured | |"
echo "|---|---:|---|"
for how in pipe file; do
  for size in "${sizes[@]}"; do
    row="$(label "$size") into a $how"
    echo "| $row: showfile at most 1.1x the floor | ${against[$row]}x | $(verdict "${against[$row]}" 1.1) |"
  done
done
echo "| 1 KiB: at most 17 system calls | ${calls[showfile]} | $(verdict "${calls[showfile]}" 17) |"
echo "| 1 KiB: instructions at most 2 % over 3,942 | ${count[showfile]} (${drift}x) | $(verdict "$drift" 1.02) |"
echo "| $(label "$largest"): peak resident memory at most the file + 4 MiB ($limit_kib KiB) | $resident KiB | $(verdict "$resident" "$limit_kib") |"
