#!/usr/bin/env bash
# Compares showfile with the programs a user would run instead, on the same
# files: GNU cat, busybox's, toybox's and uutils' (which splices into a
# pipe), and a floor, a static program that only opens, reads, writes and
# exits. Wall time on 1 KiB to /dev/null with no shell and on 1 MiB into a
# pipe (hyperfine); on 256 MiB into a pipe and into a file, the tools in
# turn, round after round (rounds.sh), also with memory fragmented
# (fragment); showfile's one read of 256 MiB against the same read into an
# aligned buffer (read_into); the time it takes to get its buffer, after an
# idle spell and at once after a run; its peak resident memory; and on the
# 1 KiB file, the instructions run (callgrind) and the system calls made
# (strace). Each figure is said against its target where there is one. It
# builds nothing.
#
#   bench/compare.sh [SHOWFILE [FLOOR]]   default build/bench/showfile and
#                                         build/bench/bench/floor; the
#                                         helpers are beside FLOOR
set -eu
program=$(realpath "${1:-build/bench/showfile}")
floor=$(realpath "${2:-build/bench/bench/floor}")
helpers=$(dirname "$floor")
rounds=$(realpath "$(dirname "$0")/rounds.sh")
for tool in hyperfine valgrind strace /usr/bin/time; do
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
make_file 256MiB $((${SHOWFILE_BENCH_MIB:-256} << 20))

# mean_ms DIR COMMAND RUNS [HYPERFINE-OPTION]: mean wall time, from the CSV.
mean_ms() {
  (cd "$1" && hyperfine ${4:-} --warmup 3 --min-runs "$3" --export-csv "$work/t.csv" "$2" >/dev/null 2>&1)
  awk -F, 'NR == 2 { printf "%.3f", $2 * 1000 }' "$work/t.csv"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
verdict() { awk -v r="$1" -v limit="$2" 'BEGIN { print (r <= limit) ? "meets" : "MISSES" }'; }
least() { printf '%s\n' "$@" | sort -g | head -1; }

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
for row in "1KiB no-shell" "1MiB pipe"; do
  read -r size how <<<"$row"
  line="| $size, $([ $how = pipe ] && echo "into a pipe" || echo "to /dev/null, no shell") |"
  for i in "${!names[@]}"; do
    if [ $how = pipe ]; then
      t=$(mean_ms "$work/$size" "${commands[$i]} | cat >/dev/null" 200)
    else
      t=$(mean_ms "$work/$size" "${commands[$i]}" 300 -N)
    fi
    ms[$size,${names[$i]}]=$t
    line+=" $t ($(ratio "$t" "${ms[$size,floor]}")x) |"
  done
  echo "$line"
done

# The large rows: every program once a round, in turn, eleven rounds.
# row NAME HOW [WRAPPER...]: HOW is "pipe" or "file"; WRAPPER runs the
# rounds (the fragmenter).
row() {
  local name=$1 how=$2 line i n=0 out to
  shift 2
  [ "$how" = pipe ] && to="| cat >/dev/null" || to=">$work/out.file"
  local list=()
  for i in "${!names[@]}"; do list+=("cd $work/256MiB && ${commands[$i]} $to"); done
  "$@" bash "$rounds" 11 "${list[@]}" >"$work/rounds"
  rm -f "$work/out.file"
  line="| $name |"
  for i in "${!names[@]}"; do
    n=$((n + 1))
    read -r median low high < <(sed -n "${n}p" "$work/rounds")
    ms[$name,${names[$i]}]=$median
    line+=" $median ($low-$high) |"
  done
  echo "$line"
}
echo
echo "256 MiB: wall time in ms, median of 11 rounds (least-most), the programs in turn each round"
echo
header "256 MiB"
row "into a pipe" pipe
row "into a file" file
row "into a pipe, memory fragmented" pipe "$helpers/fragment" 300

# showfile's one read of the 256 MiB file, as strace times it, against the
# same read into an aligned huge-page buffer; seven of each, in turn.
reads=() floors=()
for _ in $(seq 7); do
  (cd "$work/256MiB" && strace -T -e trace=read -o "$work/read.trace" "$program" >/dev/null)
  reads+=("$(sed -nE 's/^read\(.*= 268435456 <([0-9.]+)>$/\1/p' "$work/read.trace" | awk '{ print $1 * 1000 }')")
  floors+=("$(cd "$work/256MiB" && "$helpers/read_into" | awk '{ print $1 / 1000 }')")
done
median() { printf '%s\n' "$@" | sort -g | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }
read_ms=$(median "${reads[@]}") floor_read_ms=$(median "${floors[@]}")
echo
echo "The one read of 256 MiB, median of 7: showfile $read_ms ms, into an aligned buffer $floor_read_ms ms"

# Getting the 256 MiB buffer (its MADV_POPULATE_WRITE, as strace times it)
# after three idle seconds, and again at once: a virtual machine whose
# balloon takes back freed memory (free page reporting) makes the first
# slow, and the second shows the cost when the memory is still there. What
# the balloon took back in those seconds is read where the kernel says it.
populate_ms() {
  (cd "$work/256MiB" && strace -T -e trace=madvise -o "$work/madvise.trace" "$program" >/dev/null)
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
spread() { echo "$(median "$@") ($(least "$@")-$(printf '%s\n' "$@" | sort -g | tail -1))"; }
echo "Getting the 256 MiB buffer, ms, median of 7 (least-most): after 3 idle seconds" \
  "$(spread "${idle[@]}"), at once after a run $(spread "${again[@]}")"
[ ! -r $reported ] || echo "Freed memory the balloon took back in each idle spell: $(spread "${taken[@]}") KiB"
resident=$(cd "$work/256MiB" && /usr/bin/time -v "$program" 2>&1 >/dev/null |
  awk -F': ' '/Maximum resident set size/ { print $2 }')
echo "Peak resident memory of showfile on 256 MiB: $resident KiB"

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

peers=()
for name in busybox toybox uutils; do
  [ -z "${ms[into a pipe,$name]:-}" ] || peers+=("${ms[into a pipe,$name]}")
done
others=()
for name in "GNU cat" busybox toybox uutils; do
  [ -z "${ms[1MiB,$name]:-}" ] || others+=("${ms[1MiB,$name]}")
done
pipe_cat=$(ratio "${ms[into a pipe,showfile]}" "${ms[into a pipe,GNU cat]}")
pipe_peer=$(ratio "${ms[into a pipe,showfile]}" "$(least "${peers[@]}")")
file_cat=$(ratio "${ms[into a file,showfile]}" "${ms[into a file,GNU cat]}")
fragmented=$(ratio "${ms[into a pipe, memory fragmented,showfile]}" "${ms[into a pipe,showfile]}")
read_ratio=$(ratio "$read_ms" "$floor_read_ms")
small=$(ratio "${ms[1MiB,showfile]}" "$(least "${others[@]}")")
drift=$(awk -v n="${count[showfile]}" 'BEGIN { printf "%.3f", n / 3905 }')
echo
echo "| target | measured | |"
echo "|---|---:|---|"
echo "| 256 MiB into a pipe: at most 0.7x GNU cat's time | ${pipe_cat}x | $(verdict "$pipe_cat" 0.7) |"
echo "| 256 MiB into a pipe: at most 1.5x the fastest peer's | ${pipe_peer}x | $(verdict "$pipe_peer" 1.5) |"
echo "| 256 MiB into a file: at most 1.4x GNU cat's time | ${file_cat}x | $(verdict "$file_cat" 1.4) |"
echo "| 256 MiB into a pipe, memory fragmented: at most 1.5x quiet | ${fragmented}x | $(verdict "$fragmented" 1.5) |"
echo "| the 256 MiB read: at most 1.2x the read into an aligned buffer | ${read_ratio}x | $(verdict "$read_ratio" 1.2) |"
echo "| 1 MiB into a pipe: the fastest (against the fastest other) | ${small}x | $(verdict "$small" 1) |"
echo "| 1 KiB: at most 17 system calls | ${calls[showfile]} | $(verdict "${calls[showfile]}" 17) |"
echo "| 1 KiB: instructions within 2 % of 3,905 | ${count[showfile]} (${drift}x) | $(verdict "$drift" 1.02) |"
echo "| 256 MiB: peak resident memory at most the file + 4 MiB | $resident KiB | $(verdict "$resident" $(((256 + 4) << 10))) |"
