#!/usr/bin/env bash
# Runs the built program on a table of real files, each case in a fresh
# directory, and checks its standard output byte for byte and its exit code.
#
#   cases.sh --list                             each case's name and timeout (s)
#   cases.sh OPTION... KIND PROGRAM [ARG...]        every case, then the counts
#   cases.sh OPTION... --case NAME KIND PROGRAM [ARG...]
#                                   one case: exit code 0 passed, 77 skipped
#
#   KIND PROGRAM [ARG...]
#     native PROGRAM [EMULATOR...]  the native build, or a cross build run by
#                                   EMULATOR (qemu user mode)
#     memcheck PROGRAM              the native build under valgrind's memcheck:
#                                   any error or unfreed block fails the case
#     wine PROGRAM HOLDER.exe       a Windows build under Wine
#   OPTION, as the build knows it
#     --bits 32|64                  the program's width
#     --sanitized                   built with AddressSanitizer and UBSan
#     --timeout SECONDS             the case's own time limit, as its runner
#                                   has it: the case is stopped 10 s before,
#                                   so that what it made is cleaned up
#
# A "holder" keeps test.txt open for the locked-file case: it prints "held"
# once it has the file and lets go when its standard input closes.
set -u
mode=all only= bits= sanitized= limit=
arguments=("$@")
while [ $# -gt 0 ]; do
  case $1 in
  --list) mode=list ;;
  --case) mode=one only=$2 && shift ;;
  --bits) bits=$2 && shift ;;
  --sanitized) sanitized=yes ;;
  --timeout) limit=$2 && shift ;;
  *) break ;;
  esac
  shift
done
# A case runs under a deadline of its own, short of its runner's, which may
# kill it outright: stopped by a signal, it still removes what it made.
if [ -n "$limit" ] && [ -z "${SHOWFILE_CASE_DEADLINE:-}" ]; then
  SHOWFILE_CASE_DEADLINE=$((limit - 10)) exec timeout -k 5 $((limit - 10)) bash "$0" "${arguments[@]}"
fi
usage() {
  echo "usage: $0 --list | [--bits 32|64] [--sanitized] [--case NAME] KIND PROGRAM [ARG...]" >&2
  exit 2
}

if [ $mode != list ]; then
  [ $# -ge 2 ] && { [ "$bits" = 32 ] || [ "$bits" = 64 ]; } || usage
  kind=$1
  program=$(realpath "$2")
  shift 2
  emulated=
  hold() { flock "-$1" -n test.txt sh -c 'echo held; cat >/dev/null'; }
  case $kind in
  native)
    runner=("$@" "$program")
    [ $# = 0 ] || emulated=yes
    ;;
  memcheck)
    # Loads that reach partly past a block count as errors too: they are
    # what a scan that overruns its storage does.
    runner=(valgrind -q --error-exitcode=99 --partial-loads-ok=no --leak-check=full
      --show-leak-kinds=all --errors-for-leak-kinds=all "$program")
    ;;
  wine)
    holder=$(realpath "$1")
    runner=(wine "$program")
    hold() { wine "$holder"; }
    ;;
  *) usage ;;
  esac
  work=$(mktemp -d)
  # Memory cgroups a case made ("cgroups", one a line) go too, with what
  # still runs in them.
  clean_up() {
    local group pid
    while read -r group; do
      [ -d "$group" ] || continue
      while read -r pid; do kill -9 "$pid"; done <"$group/cgroup.procs"
      for _ in $(seq 50); do rmdir "$group" && break; sleep 0.1; done
    done < <(cat "$work/cgroups" 2>/dev/null)
    chmod -R u+rwx "$work"
    rm -rf "$work"
  }
  trap clean_up EXIT
  trap 'exit 143' TERM
  # Reachable by the ordinary user that the permission cases run as.
  chmod 755 "$work"
fi
run() { "${runner[@]}"; }

# What the program can't be asked to do here, and why.
skip() {
  echo "skipped: $name: $1"
  exit 77
}
not_under() { # KIND REASON
  [ "$kind" != "$1" ] || skip "$2"
}
# Something the case saw go wrong besides the output and the exit code.
problem() { echo "$*" >>problem; }

# Setups: each makes test.txt (or not) in the current directory. One that
# starts something leaves the command that must finish it, successfully,
# in the file "after".
put() { printf "$1" >test.txt; }
sparse() {
  truncate -s "$1" test.txt
  printf "$2" | dd of=test.txt conv=notrunc status=none
}
# only BITS SETUP...: a case for a program of that width. A 32-bit program
# pads its buffer in 32 bits, so sizes just under 4 GiB wrap there; a 64-bit
# one allocates them whole.
only() {
  [ "$bits" = "$1" ] || skip "for a $1-bit program; this one is $bits-bit"
  shift
  "$@"
}
link_to_dir() {
  mkdir folder
  ln -s folder test.txt
}
put_kilobytes() { yes 'there before the start' | head -c $(($1 << 10)) >test.txt; }
put_megabytes() { put_kilobytes $(($1 << 10)); }
# locked x|s: another process holds test.txt, exclusively or shared.
locked() {
  [ "$kind" != wine ] || [ "$1" = x ] || skip "under Wine the share modes are Wine's own"
  put 'abc'
  mkfifo release
  hold "$1" <release >holding &
  exec 9>release
  echo 'exec 9>&-; wait' >after
  for _ in $(seq 400); do
    grep -q held holding 2>/dev/null && return 0
    sleep 0.05
  done
  echo "the holder never took test.txt"
}
# A FIFO with a writer waiting at it: once the program has looked, someone
# else reads the FIFO, and the writer must get through to that reader.
fifo_with_writer() {
  not_under wine "Wine opens a FIFO as a file; Windows has no FIFOs"
  mkfifo test.txt
  (printf 'from the writer' >test.txt) &
  echo $! >writer
  cat >after <<'AFTER'
timeout 10 cat test.txt >from.fifo
wait "$(cat writer)" && [ "$(cat from.fifo)" = 'from the writer' ]
AFTER
}
# The permission cases mean nothing to root, who reads every file: as root
# the program runs as nobody.
as_user() {
  not_under wine "Wine won't use a prefix that belongs to another user"
  if [ "$(id -u)" = 0 ]; then
    command -v setpriv >/dev/null || skip "no setpriv to run as an ordinary user"
    id nobody >/dev/null 2>&1 || skip "no user nobody to run as"
  fi
  put 'abc'
  chmod "$1" "$2"
}
# As root, the runner as nobody, in "command", from a copy of the program in
# a place nobody can reach; otherwise the runner itself.
user_command() {
  command=("${runner[@]}")
  [ "$(id -u)" = 0 ] || return 0
  local copy=$work/bin/${program##*/} word
  [ -e "$copy" ] || { mkdir -p "$work/bin" && cp "$program" "$copy"; } || return 99
  command=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups --)
  for word in "${runner[@]}"; do
    [ "$word" = "$program" ] && word=$copy
    command+=("$word")
  done
}
run_as_user() {
  local command
  user_command || return
  "${command[@]}"
}
# memory_cgroup LIMIT SETUP...: makes a memory cgroup of LIMIT bytes under
# this process's own, for "in_cgroup" to run the program in, and leaves its
# removal in "after".
memory_cgroup() {
  not_under wine "Wine's heap is its own, not the one that knows cgroups"
  not_under memcheck "valgrind's own memory would count against the limit"
  [ "$(id -u)" = 0 ] || skip "only root can make a memory cgroup here"
  local limit=$1 own group=
  shift
  own=$(awk -F: '$2 ~ /(^|,)memory(,|$)/ { print $3 }' /proc/self/cgroup)
  if [ -n "$own" ] && [ -w "/sys/fs/cgroup/memory$own" ]; then
    group=/sys/fs/cgroup/memory$own/showfile-test.$$
    mkdir "$group" && echo "$limit" >"$group/memory.limit_in_bytes" || group=
  else
    own=$(awk -F: '$1 == 0 { print $3 }' /proc/self/cgroup)
    if grep -qw memory "/sys/fs/cgroup$own/cgroup.subtree_control" 2>/dev/null; then
      group=/sys/fs/cgroup$own/showfile-test.$$
      mkdir "$group" && echo "$limit" >"$group/memory.max" || group=
    fi
  fi
  [ -n "$group" ] || skip "no memory cgroup with a limit can be made under this process's own: its v1 memory cgroup isn't writable here, and its v2 cgroup doesn't delegate the memory controller"
  echo "$group" >>"$work/cgroups"
  echo "$group" >cgroup
  echo 'rmdir "$(cat cgroup)"' >after
  "$@"
}
# held_by_another KIB SETUP...: another process in the cgroup holds KIB KiB
# of memory while the program runs (dd, its block written into a FIFO that
# nobody reads), and must still be there after.
held_by_another() {
  [ -z "$sanitized" ] || skip "the sanitizers' own memory is most of an 8 MiB limit"
  [ -z "$emulated" ] || skip "qemu's own memory is most of an 8 MiB limit"
  local kib=$1 usage
  shift
  mkfifo hold
  exec 7<>hold
  sh -c 'echo $$ >"$0/cgroup.procs" && exec dd bs="$1"k count=1 if=/dev/zero status=none' \
    "$(cat cgroup)" "$kib" >hold 2>/dev/null &
  usage=$(cat cgroup)/memory.usage_in_bytes
  [ -e "$usage" ] || usage=$(cat cgroup)/memory.current
  for _ in $(seq 200); do
    [ "$(cat "$usage")" -ge $((kib << 10)) ] && break
    sleep 0.05
  done
  head -1 "$(cat cgroup)/cgroup.procs" >holder
  echo 'kill -0 "$(cat holder)" && kill "$(cat holder)" && wait && exec 7>&- && rmdir "$(cat cgroup)"' >after
  "$@"
}

# Ways to run: where standard output goes. Each leaves stdout in "out".
to_file() { run >out; }
to_pipe() {
  run | cat >out
  return "${PIPESTATUS[0]}"
}
closed() {
  : >out
  run >&-
}
to_full() {
  : >out
  run >/dev/full
}
as_user_to_file() { run_as_user >out; }
in_cgroup() {
  sh -c 'echo $$ >"$0/cgroup.procs" && exec "$@"' "$(cat cgroup)" "${runner[@]}" >out
}
in_cgroup_whole() {
  in_cgroup
  local status=$?
  cp test.txt expected.prefix
  return $status
}
# The cgroup's charge mostly file cache first, which the kernel gives back:
# a file that fits once it has must still be shown.
in_cached_cgroup() {
  sh -c 'echo $$ >"$0/cgroup.procs" && head -c 250000000 /dev/zero >cache.fill &&
         cat cache.fill >/dev/null' "$(cat cgroup)"
  in_cgroup_whole
  local status=$?
  rm -f cache.fill
  return $status
}
# A system without /proc (a bare chroot): test.txt is then looked at by name
# and opened by name.
without_proc() {
  not_under wine "Wine can't start without /proc"
  not_under memcheck "valgrind can't start without /proc"
  [ -z "$sanitized" ] || skip "AddressSanitizer reads /proc as it starts"
  [ "$(id -u)" = 0 ] && command -v unshare >/dev/null || skip "only root can hide /proc"
  # In a mount namespace of its own, whose mounts are private (in a chroot,
  # unshare can't make them so, and won't run).
  local said
  said=$(unshare --mount sh -c 'mount -t tmpfs none /proc' 2>&1) || skip "/proc can't be hidden here: $said"
  unshare --mount sh -c 'mount -t tmpfs none /proc && exec "$@"' sh "${runner[@]}" >out
}
# Address space for the program, its stack and its libraries, but not for
# test.txt's buffer.
address_space_limit() {
  [ -z "$emulated" ] || skip "qemu reserves its guest's address space up front"
  [ -z "$sanitized" ] || skip "AddressSanitizer reserves terabytes of address space up front"
  not_under memcheck "valgrind needs more address space than the limit"
  not_under wine "Wine needs more address space than the limit"
  (
    ulimit -v $((32 << 10))
    run >out
  )
}
# A stack of 16 KiB: the large block's memory cgroup check keeps what it
# reads off the stack. (The musl build runs in 12 KiB too; a static glibc's
# start-up needs more at times, and in 10 KiB even /bin/true crashes here.)
small_stack() {
  [ -z "$emulated" ] || skip "qemu needs a stack of its own"
  [ -z "$sanitized" ] || skip "the sanitizers need a stack of their own"
  not_under memcheck "valgrind needs a stack of its own"
  not_under wine "Wine needs a stack of its own"
  (
    ulimit -s 16
    exec "${runner[@]}" >out
  )
  local status=$?
  cp test.txt expected.prefix
  return $status
}
# While another process appends to test.txt, the output must be a prefix of
# the file as it ends up, and no shorter than the file was before.
while_appending() {
  local before shown status
  before=$(stat -c %s test.txt)
  (while :; do printf 'appended while shown\n' >>test.txt; done) &
  run >out
  status=$?
  kill $! && wait $! 2>/dev/null
  shown=$(stat -c %s out)
  head -c $((shown > before ? shown : before)) test.txt >expected.prefix
  return $status
}
reader_gone() {
  { sleep 0.3; run; echo $? >code; } | true
  : >out
  return "$(cat code)"
}
# The reader takes ten bytes and goes; what it took must be the file's first.
reader_quits() {
  run | head -c 10 >out
  local status=${PIPESTATUS[0]}
  head -c 10 test.txt >expected.prefix
  return "$status"
}
# A limit of 100 blocks of 1 KiB on the files the program writes.
size_limit() {
  not_under wine "SIGXFSZ ends Wine itself; Windows has no such limit"
  (
    ulimit -f 100
    run >out
  )
  local status=$?
  head -c $((100 << 10)) test.txt >expected.prefix
  return $status
}
# traced STRACE-OPTION...: runs the program under strace, which follows the
# emulator or valgrind too; -P keeps injections to the program's own calls
# on the file, never the C library's, an emulator's or valgrind's. The name
# is given as the program gives it; strace then says what it resolves to,
# which is left out of the program's standard error.
needs_strace() { command -v strace >/dev/null || skip "strace is not installed"; }
traced() {
  needs_strace
  strace -f -qq "$@" "${runner[@]}" 2>traced.err
  local status=$?
  grep -v '^strace: Requested path' traced.err >&2
  return $status
}
injected() { traced -o /dev/null -P test.txt -e inject="$1" >out; }
read_error() { injected read:error=EIO; }
# The file read blocking: a read that says it would block is an error, never
# a reason to try again and again.
read_would_block() {
  not_under wine "Wine tries a read that would block again, for ever"
  injected read:error=EAGAIN
}
read_interrupted() { injected read:error=EINTR:when=1; }
# Wine opens files in its server, which strace doesn't follow.
open_fails() {
  not_under wine "Wine opens test.txt in its server, out of strace's reach"
  injected "open,openat:error=$1"
}
open_refused() { open_fails EACCES; }
open_no_descriptor() { open_fails EMFILE; }
lock_error() {
  not_under wine "Wine keeps share modes in its server and takes no flock"
  injected flock:error=ENOLCK
}
# A writer that takes no lock cuts test.txt to 10 bytes once the program
# has asked its size: strace holds the read back until the cut is made.
shrunk() {
  (
    until grep -q 'read(' trace 2>/dev/null; do sleep 0.01; done
    truncate -s 10 test.txt
  ) &
  traced -o trace -P test.txt -e trace=read,pread64 \
    -e inject=read,pread64:delay_enter=300000:when=1 >out
  local status=$?
  wait
  head -c 10 test.txt >expected.prefix
  return $status
}
# A stop and a continue (^Z and fg) while the program waits to write into a
# full pipe cut its write short; the rest must follow. The trace shows the
# cut.
stopped_write() {
  not_under wine "Windows has no stop and continue"
  needs_strace
  local status tracer pid cuts
  mkfifo pipe
  { sleep 1; cat >out; } <pipe &
  strace -f -qq -o trace -e trace=write,vmsplice "${runner[@]}" >pipe &
  tracer=$!
  for _ in $(seq 300); do
    pid=$(pgrep -P $tracer)
    [[ $(cat "/proc/$pid/wchan" 2>/dev/null) == *pipe_w* ]] && break
    sleep 0.01
  done
  kill -STOP "$pid" && sleep 0.1 && kill -CONT "$pid"
  wait $tracer
  status=$?
  wait
  # "write(1, "..."..., ASKED) = TAKEN" or "vmsplice(1, [{..., iov_len=ASKED}], 1, 0) = TAKEN"
  cuts=$(sed -nE 's/.*write\(1, .*, ([0-9]+)\) += ([0-9]+)$/\1 \2/p
                  s/.*vmsplice\(1, .*iov_len=([0-9]+)\}\], 1, 0\) += ([0-9]+)$/\1 \2/p' trace |
    awk '$1 != $2' | wc -l)
  [ "$cuts" -gt 0 ] || problem "no write was cut short: $(grep -cE '(write|vmsplice)\(1' trace) writes"
  cp test.txt expected.prefix
  return $status
}
# nonblocking PIPE-BYTES COMMAND...: COMMAND, its standard output made
# non-blocking, and its pipe PIPE-BYTES wide (0: as it is).
nonblocking() {
  perl -MFcntl -e 'my $wide = 0 + shift; # a number, not a buffer, to fcntl
                   fcntl(STDOUT, F_SETFL, fcntl(STDOUT, F_GETFL, 0) | O_NONBLOCK) or die;
                   $wide == 0 or fcntl(STDOUT, 1031, $wide) or die; # F_SETPIPE_SZ
                   exec @ARGV or die' "$@"
}
# Standard output a non-blocking pipe whose reader starts late: the program
# must wait for room, in poll, not by trying the write again and again, and
# the whole file arrive. strace counts the writes, where it can see them.
nonblocking_pipe() {
  local status command=("${runner[@]}") writes
  [ "$kind" = wine ] || ! command -v strace >/dev/null ||
    command=(strace -f -qq -o writes -e trace=write,vmsplice "${runner[@]}")
  nonblocking 0 "${command[@]}" | { sleep 0.5; cat >out; }
  status=${PIPESTATUS[0]}
  if [ -f writes ]; then
    writes=$(grep -cE '(write|vmsplice)\(1,' writes)
    [ "$writes" -le 100 ] || problem "$writes writes: it tries again instead of waiting"
  fi
  cp test.txt expected.prefix
  return "$status"
}
# The same, a text written (short of vmsplice's size) into a pipe of one
# page, and the wait itself failing: the write stops there, with what went
# out before.
poll_fails() {
  not_under wine "Wine waits in its own way"
  [ -z "$emulated" ] || skip "the emulator polls for itself"
  needs_strace
  local status
  nonblocking 4096 strace -f -qq -o /dev/null -e inject=poll,ppoll:error=ENOMEM "${runner[@]}" |
    { sleep 0.5; cat >out; }
  status=${PIPESTATUS[0]}
  [ "$(stat -c %s out)" -lt "$(stat -c %s test.txt)" ] || problem "all of it went out"
  head -c "$(stat -c %s out)" test.txt >expected.prefix
  return "$status"
}
# Standard output a FIFO whose reader reads along: a large text is handed
# to it by vmsplice (natively, the trace must show it), or written where the
# system refuses that.
to_fifo() {
  local status calls=()
  mkfifo fifo
  cat fifo >out &
  if [ "$kind" != wine ] && command -v strace >/dev/null; then
    calls=(strace -f -qq -o calls -e trace=write,vmsplice)
  fi
  "${calls[@]}" "${runner[@]}" >fifo
  status=$?
  wait
  if [ -f calls ]; then
    echo "standard output: $(grep -c 'vmsplice(1,' calls) vmsplice, $(grep -c 'write(1,' calls) write calls"
    [ -n "$emulated" ] || [ "$kind" = memcheck ] || grep -q 'vmsplice(1,.* = [1-9]' calls ||
      problem "the text never went by vmsplice"
  fi
  cp test.txt expected.prefix
  return $status
}
# The pipe's reader starts only once the program has ended: the widened pipe
# holds all of the text, handed over by pages the program has freed, and it
# must arrive exactly.
reader_after_exit() {
  not_under wine "the pipe is Wine's to widen"
  local status
  mkfifo pipe
  exec 8<>pipe
  run >pipe
  status=$?
  head -c "$(stat -c %s test.txt)" <&8 >out
  exec 8>&-
  cp test.txt expected.prefix
  return $status
}
# A large write into a pipe widens it first: the reader finds it 1 MiB wide.
widened_pipe() {
  not_under wine "the pipe is Wine's to widen"
  run | perl -e 'local $/; my $all = <STDIN>; open my $out, ">", "out" or die;
                 print $out $all; printf "%d\n", fcntl(STDIN, 1032, 0)' >width # F_GETPIPE_SZ
  local status=${PIPESTATUS[0]}
  [ "$(cat width)" -ge $((1 << 20)) ] || problem "the pipe is $(cat width) bytes wide"
  cp test.txt expected.prefix
  return "$status"
}
# swap TRY WRITER SHOWN COMMAND...: test.txt names regular.txt while
# COMMAND, the program under strace writing "trace", runs; while strace holds
# a call back (it says DELAYED) the name is swapped for the FIFO. With
# WRITER "yes" a writer waits at the FIFO and must get through to a later
# reader. SHOWN is what the output may be (grep).
swap() {
  local try=$1 writer=$2 shown=$3 status
  shift 3
  ln -sfn regular.txt test.txt
  rm -f trace
  if [ "$writer" = yes ]; then
    (printf 'from the writer' >fifo) &
    echo $! >writer
  fi
  (
    for _ in $(seq 1000); do
      grep -q DELAYED trace 2>/dev/null && ln -sfn fifo test.txt && exit
      sleep 0.01
    done
  ) &
  "$@" >out 2>traced.err
  status=$?
  grep -v '^strace: Requested path' traced.err >&2
  wait $! || problem "try $try: the call was never held back"
  if [ "$writer" = yes ]; then
    timeout 5 cat fifo >from.fifo
    wait "$(cat writer)" && [ "$(cat from.fifo)" = 'from the writer' ] ||
      problem "try $try: the writer never got through to the later reader"
  fi
  grep -qx "$shown" out || problem "try $try: $(od -c out | head -2)"
  return $status
}
# The name swapped for a FIFO with a writer waiting at it, while the program
# looks at what the name held, ten times: the writer never gets through.
swapped_name() {
  not_under wine "Wine opens a FIFO as a file; Windows has no FIFOs"
  needs_strace
  printf 'the regular file' >regular.txt
  mkfifo fifo
  for try in $(seq 10); do
    swap "$try" yes 'the regular file\|file not found' strace -f -qq -o trace -P test.txt \
      -P regular.txt -e inject=%stat,%lstat,%fstat:delay_exit=300000 "${runner[@]}" || return
  done
  cp out expected.prefix
}
# The same without /proc, the swap made while the name's first open, the
# look, is held back. As root the program opens what it looked at by its
# file handle: the writer gets through and the regular file is shown. As
# nobody it opens the name and checks what it got: a FIFO swapped in (no
# writer at it, so an open that waited would hang) is never shown.
swapped_name_without_proc() {
  not_under wine "Wine can't start without /proc"
  not_under memcheck "valgrind can't start without /proc"
  [ -z "$sanitized" ] || skip "AddressSanitizer reads /proc as it starts"
  needs_strace
  [ "$(id -u)" = 0 ] && command -v unshare >/dev/null || skip "only root can hide /proc"
  local said hide=(unshare --mount sh -c 'mount -t tmpfs none /proc && exec "$@"' sh) try
  said=$("${hide[@]}" true 2>&1) || skip "/proc can't be hidden here: $said"
  as_user 644 test.txt
  user_command
  local trace=(strace -f -qq -o trace -P test.txt -e inject=open,openat:delay_exit=300000:when=1)
  printf 'the regular file' >regular.txt
  mkfifo -m 644 fifo
  for try in 1 2 3; do
    swap "$try" yes 'the regular file' "${hide[@]}" "${trace[@]}" "${runner[@]}" || return
  done
  for try in 4 5 6; do
    swap "$try" no 'file not found' "${hide[@]}" "${trace[@]}" "${command[@]}" || return
  done
  cp out expected.prefix
}

# attempt SETUP [ARG...]: one run of check's case in the directory "dir",
# with "expected", "code" and "how" as check has them.
attempt() {
  mkdir "$dir"
  (
    cd "$dir" || exit 99
    "$@"
    "$how" 2>err
    status=$?
    # Not sourced: bash 5.2 runs the last command of an and-list in a file
    # given to "." in place of this subshell, which then ends, with that
    # command's status, before any check below.
    [ -f after ] && { eval "$(cat after)" || { echo "what the setup started did not finish well"; exit 1; }; }
    printf "$expected" >expected
    [ -f expected.prefix ] && mv expected.prefix expected
    cmp -s out expected || { echo "stdout differs: $(od -c out | head -3)"; exit 1; }
    [ "$status" = "$code" ] || { echo "exit code $status, expected $code"; exit 1; }
    [ "$kind" = wine ] || [ ! -s err ] || { echo "wrote to stderr: $(head -5 err)"; exit 1; }
    [ ! -f problem ] || { cat problem; exit 1; }
    touch checked
  ) || return
  [ -f "$dir/checked" ] || { echo "the case ended before its checks"; return 1; }
}

# check NAME EXPECTED-STDOUT(printf) EXIT-CODE HOW SETUP [ARG...]
check() {
  local name=$1 expected=$2 code=$3 how=$4
  shift 4
  case $mode in
  list)
    echo "$name ${timeout[$name]:-30}"
    return
    ;;
  one) [ "$name" = "$only" ] || return 0 ;;
  esac
  local dir=$work/$name result
  attempt "$@"
  result=$?
  # Wine's launcher prints this when it found no image it could load, and
  # so never ran the program; it has done so, rarely, for an image that
  # loaded in every case around it. Once more, and then the case counts as
  # it came out: an image that can't be loaded fails both times.
  if [ "$kind" = wine ] && [ $result != 0 ] && [ $result != 77 ] &&
    grep -qs '^Application could not be started' "$dir/out"; then
    echo "Wine did not start the program; once more"
    chmod -R u+rwx "$dir"
    rm -rf "$dir"
    attempt "$@"
    result=$?
  fi
  case $result in
  0) passed=$((passed + 1)) ;;
  77) skipped=$((skipped + 1)) ;;
  *)
    echo "FAILED: $name"
    failed=$((failed + 1))
    ;;
  esac
  chmod -R u+rwx "$dir"
  rm -rf "$dir"
  [ $mode != one ] || exit $result
}

declare -A timeout=([4g-minus-2-shown]=120 [memory-cgroup-under]=90 [memory-cgroup-cached]=90
  [swapped-name]=120 [swapped-name-without-proc]=60)
passed=0 failed=0 skipped=0
#     name               stdout                   exit  how               setup
check no-file            'file not found'         0     to_file           true
check no-file-to-pipe    'file not found'         0     to_pipe           true
check no-file-stdout-full ''                      0     to_full           true
check directory          'file not found'         0     to_file           mkdir test.txt
check link-to-dir        'file not found'         0     to_file           link_to_dir
check fifo-with-writer   'file not found'         0     to_file           fifo_with_writer
check swapped-name       ''                       0     swapped_name      true
check swapped-name-without-proc '' 0 swapped_name_without_proc true
check without-proc       'abc'                    0     without_proc      put 'abc'
check locked             'file not found'         0     to_file           locked x
check locked-shared      'file not found'         0     to_file           locked s
check read-only          'abc'                    0     as_user_to_file   as_user 444 test.txt
check unreadable         'file not found'         0     as_user_to_file   as_user 000 test.txt
check unsearchable-dir   'file not found'         0     as_user_to_file   as_user 600 .
check open-refused       'file not found'         0     open_refused      put 'abc'
check open-no-descriptor 'file not found'         0     open_no_descriptor put 'abc'
check empty              ''                       0     to_file           put ''
check one-byte           'a'                      0     to_file           put 'a'
check abc                'abc'                    0     to_file           put 'abc'
check crlf-high-bytes    'a\r\nb\x80\xfe\xff\r\n' 0     to_file           put 'a\r\nb\x80\xfe\xff\r\n'
check zero-at-3          'abc'                    0     to_file           put 'abc\0def'
check zero-first         ''                       0     to_file           put '\0abc'
check 4g-plus-3          'xyz'                    0     to_file           sparse 4294967299 'xyz'
check 4g-minus-1         ''                       1     to_file           sparse 4294967295 'xyz'
check 4g-minus-2-wraps   ''                       1     to_file           only 32 sparse 4294967294 'xyz'
check 4g-minus-3-wraps   ''                       1     to_file           only 32 sparse 4294967293 'xyz'
check 4g-minus-4-wraps   ''                       1     to_file           only 32 sparse 4294967292 'xyz'
check 4g-minus-2-shown   'xyz'                    0     to_file           only 64 sparse 4294967294 'xyz'
check address-space-limit ''                      1     address_space_limit sparse 67108864 'xyz'
check small-stack        ''                       0     small_stack       put_megabytes 3
check memory-cgroup-over ''                       1     in_cgroup         memory_cgroup 314572800 sparse 419430400 'xyz'
check memory-cgroup-cached ''                      0     in_cached_cgroup  memory_cgroup 314572800 put_megabytes 100
check memory-cgroup-under ''                      0     in_cgroup_whole   memory_cgroup 314572800 put_megabytes 100
check memory-cgroup-rounded ''                    1     in_cgroup         memory_cgroup 67108864 sparse 65011696 'xyz'
check memory-cgroup-shared ''                     1     in_cgroup         memory_cgroup 8388608 held_by_another 6656 sparse 1992294 'xyz'
check memory-cgroup-huge-page ''                  1     in_cgroup         memory_cgroup 8388608 held_by_another 6144 sparse 300000 'xyz'
check to-pipe            'abc\n'                  0     to_pipe           put 'abc\n'
check to-fifo            ''                       0     to_fifo           put_megabytes 3
check reader-after-exit  ''                       0     reader_after_exit put_kilobytes 600
check growing            ''                       0     while_appending   put_megabytes 1
check shrunk             ''                       0     shrunk            put_megabytes 1
check read-error         ''                       1     read_error        put 'abc'
check read-would-block   ''                       1     read_would_block  put 'abc'
check read-interrupted   'abc'                    0     read_interrupted  put 'abc'
check lock-error         'abc'                    0     lock_error        put 'abc'
check stdout-closed      ''                       1     closed            put 'abc'
check stdout-full        ''                       1     to_full           put 'abc'
check reader-gone        ''                       1     reader_gone       put_megabytes 1
check reader-quits       ''                       1     reader_quits      put_megabytes 3
check size-limit         ''                       1     size_limit        put_megabytes 1
check stopped-write      ''                       0     stopped_write     put_megabytes 3
check nonblocking-pipe   ''                       0     nonblocking_pipe  put_megabytes 3
check poll-fails         ''                       1     poll_fails        put_kilobytes 60
check widened-pipe       ''                       0     widened_pipe      put_megabytes 3

case $mode in
list) ;;
one)
  echo "no case $only" >&2
  exit 2
  ;;
all)
  echo "$passed passed, $failed failed, $skipped skipped"
  [ "$failed" = 0 ]
  ;;
esac
