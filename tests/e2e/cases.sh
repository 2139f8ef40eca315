#!/usr/bin/env bash
# Runs the built program on a table of real files, each case in a fresh
# directory, and checks its standard output byte for byte and its exit code.
# Two tables: what the program does wherever it runs, then what the POSIX
# layer does with what only POSIX has.
#
#   cases.sh --list                        each case's name and timeout (s)
#   cases.sh OPTION... [--case NAME] KIND PROGRAM [ARG...]
#                    every case, then the counts; or one: 0 passed, 77 skipped
#
#   KIND PROGRAM [ARG...]: native PROGRAM [EMULATOR...], a native build or a
#     cross build under qemu; memcheck PROGRAM, under valgrind, where any
#     error or unfreed block fails; wine PROGRAM HOLDER.exe, a Windows build,
#     HOLDER.exe keeping test.txt open ("held") until its input closes.
#   OPTION: --bits 32|64, the program's width; --sanitized, built with ASan
#     and UBSan; --timeout SECONDS, the case's own limit, as its runner has
#     it: the case is stopped 10 s before, so that it cleans up after itself.
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
    # Wine's own errors, and only those, go to standard error: a start-up
    # of Wine's that failed before the program ran can then be told from
    # the program's own exit code 1.
    runner=(env WINEDEBUG=-all,err+all wine "$program")
    hold() { wine "$holder"; }
    ;;
  *) usage ;;
  esac
  work=$(mktemp -d)
  trap 'chmod -R u+rwx "$work"; rm -rf "$work"' EXIT
  trap 'exit 143' TERM
  # Reachable by the ordinary user that the permission cases run as.
  chmod 755 "$work"
fi
run() { "${runner[@]}"; }

# What the program can't be asked to do here, and why.
skip() { echo "skipped: $name: $1"; exit 77; }
not_under() { [ "$kind" != "$1" ] || skip "$2"; } # KIND REASON
# Something the case saw go wrong besides the output and the exit code.
problem() { echo "$*" >>problem; }
needs_strace() { command -v strace >/dev/null || skip "strace is not installed"; }

# Setups: each makes test.txt (or not) in the current directory. One that
# starts something leaves the command that must finish it, successfully,
# in the file "after".
put() { printf "$1" >test.txt; }
sparse() { truncate -s "$1" test.txt && printf "$2" | dd of=test.txt conv=notrunc status=none; }
# only BITS SETUP...: a case for a program of that width. A 32-bit program
# pads its buffer in 32 bits, so sizes just under 4 GiB wrap there; a 64-bit
# one allocates them whole.
only() {
  [ "$bits" = "$1" ] || skip "for a $1-bit program; this one is $bits-bit"
  "${@:2}"
}
link_to_dir() { mkdir folder && ln -s folder test.txt; }
put_bytes() { yes 'there before the start' | head -c "$1" >test.txt; }
put_kilobytes() { put_bytes $(($1 << 10)); }
put_megabytes() { put_kilobytes $(($1 << 10)); }
# COUNT characters of two bytes each.
put_two_byte_characters() { yes 'é' | head -n "$1" | tr -d '\n' >test.txt; }
# locked x|s|lease: another process holds test.txt: with an exclusive or a
# shared flock, or with a write lease, as Samba and NFS servers take them.
locked() {
  [ "$kind" != wine ] || [ "$1" != s ] || skip "under Wine the share modes are Wine's own"
  put 'abc'
  mkfifo release
  if [ "$1" = lease ]; then
    perl -e '$SIG{IO} = "IGNORE"; # the break that the open asks for
             open(my $file, "<", "test.txt") or die;
             fcntl($file, 1024, 1) or print "no lease: $!\n" and exit; # F_SETLEASE, F_WRLCK
             $| = 1; print "held\n"; 1 while <STDIN>' <release >holding &
  else
    hold "$1" <release >holding &
  fi
  exec 9>release
  echo 'exec 9>&-; wait' >after
  for _ in $(seq 200); do
    grep -q held holding 2>/dev/null && return 0
    kill -0 $! 2>/dev/null || break
    sleep 0.05
  done
  ! grep -q 'no lease' holding || skip "this file system takes no leases: $(cat holding)"
  echo "the holder never took test.txt: $(cat holding)"
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
# The permission cases mean nothing to root: as root the program runs as nobody.
as_user() {
  not_under wine "Wine won't use a prefix that belongs to another user"
  if [ "$(id -u)" = 0 ]; then
    command -v setpriv >/dev/null || skip "no setpriv to run as an ordinary user"
    id nobody >/dev/null 2>&1 || skip "no user nobody to run as"
  fi
  put 'abc'
  chmod "$1" "$2"
}
# As root, the runner as nobody, from a copy of the program in a place
# nobody can reach; otherwise the runner itself.
run_as_user() {
  [ "$(id -u)" = 0 ] || { run; return; }
  local copy=$work/bin/${program##*/} word command
  [ -e "$copy" ] || { mkdir -p "$work/bin" && cp "$program" "$copy"; } || return 99
  command=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups --)
  for word in "${runner[@]}"; do
    [ "$word" = "$program" ] && word=$copy
    command+=("$word")
  done
  "${command[@]}"
}
# A system without /proc (a bare chroot), where test.txt is opened by name:
# hidden_proc COMMAND... runs COMMAND in a mount namespace of its own, its
# mounts private (in a chroot unshare won't run), with an empty /proc.
hidden_proc() { unshare --mount sh -c 'mount -t tmpfs none /proc && exec "$@"' sh "$@"; }
can_hide_proc() {
  not_under wine "Wine can't start without /proc"
  not_under memcheck "valgrind can't start without /proc"
  [ -z "$sanitized" ] || skip "AddressSanitizer reads /proc as it starts"
  [ "$(id -u)" = 0 ] && command -v unshare >/dev/null || skip "only root can hide /proc"
  local said
  said=$(hidden_proc true 2>&1) || skip "/proc can't be hidden here: $said"
}

# Ways to run: where standard output goes. Each leaves stdout in "out".
to_file() { run >out; }
to_pipe() { run | cat >out; return "${PIPESTATUS[0]}"; }
closed() { : >out; run >&-; }
to_full() { : >out; run >/dev/full; }
as_user_to_file() { run_as_user >out; }
without_proc() { can_hide_proc; hidden_proc "${runner[@]}" >out; }
# Address space for the program, its stack and its libraries, but not for
# test.txt's buffer.
address_space_limit() {
  [ -z "$emulated" ] || skip "qemu reserves its guest's address space up front"
  [ -z "$sanitized" ] || skip "AddressSanitizer reserves terabytes of address space up front"
  not_under memcheck "valgrind needs more address space than the limit"
  not_under wine "Wine needs more address space than the limit"
  (ulimit -v $((32 << 10)) && run >out)
}
# While another process appends to test.txt, the output must be a prefix of
# the file as it ends up, and no shorter than the file was before.
while_appending() {
  local before status
  before=$(stat -c %s test.txt)
  (while :; do printf 'appended while shown\n' >>test.txt; done) &
  run >out
  status=$?
  kill $! && wait $! 2>/dev/null
  [ "$(stat -c %s out)" -ge "$before" ] || problem "$(stat -c %s out) bytes shown of $before"
  return $status
}
reader_gone() {
  { sleep 0.3; run; echo $? >code; } | true
  : >out
  return "$(cat code)"
}
# The reader takes ten bytes and goes.
reader_quits() { run | head -c 10 >out; return "${PIPESTATUS[0]}"; }
# traced STRACE-OPTION...: the program under strace, which follows the
# emulator or valgrind too; -P keeps injections to the program's own calls on
# a file (strace's note of what the name resolves to is left out of standard
# error). A program that doesn't end within 10 s fails (124), well before the
# case's deadline.
traced() {
  needs_strace
  timeout 10 strace -f -qq "$@" "${runner[@]}" 2>traced.err
  local status=$?
  grep -v '^strace: Requested path' traced.err >&2
  return $status
}
injected() { traced -o /dev/null -P test.txt -e inject="$1" >out; }
read_error() { injected read:error=EIO; }
read_interrupted() { injected read:error=EINTR:when=1; }
# Wine opens files in its server, which strace doesn't follow.
open_fails() {
  not_under wine "Wine opens test.txt in its server, out of strace's reach"
  injected "open,openat:error=$1"
}
open_refused() { open_fails EACCES; }
open_no_descriptor() { open_fails EMFILE; }
# A writer that takes no lock cuts test.txt to 10 bytes once the program
# has asked its size: strace holds the read back until the cut is made.
shrunk() {
  needs_strace
  (
    for _ in $(seq 1000); do
      grep -q 'read(' trace 2>/dev/null && truncate -s 10 test.txt && exit
      sleep 0.01
    done
  ) &
  traced -o trace -P test.txt -e trace=read,pread64 \
    -e inject=read,pread64:delay_enter=300000:when=1 >out
  local status=$?
  wait
  return $status
}

# Ways to run that only POSIX has.
lock_error() {
  not_under wine "Wine keeps share modes in its server and takes no flock"
  injected flock:error=ENOLCK
}
# The file read blocking: a read that says it would block is an error, never
# a reason to try again and again.
read_would_block() {
  not_under wine "Wine tries a read that would block again, for ever"
  injected read:error=EAGAIN
}
# A limit of 100 blocks of 1 KiB on the files the program writes.
size_limit() {
  not_under wine "SIGXFSZ ends Wine itself; Windows has no such limit"
  (ulimit -f 100 && run >out)
}
# Past a limit of 4 KiB the first write takes half of a text of 2-byte
# characters; the second, made to take nothing, ends the output as a
# failure: the bytes moved until then must not pass for a count of the
# text's characters.
write_takes_nothing() {
  not_under wine "SIGXFSZ ends Wine itself; Windows has no such limit"
  needs_strace
  (ulimit -f 4 && traced -o /dev/null -P "$PWD/out" -e inject=write:retval=0:when=2 >out)
}
# Standard output closed, and every write made to say it would block: the
# wait for room finds no descriptor (POLLNVAL) and the write fails, rather
# than trying again until killed.
no_descriptor_to_wait_on() {
  not_under wine "Wine waits in its own way"
  not_under memcheck "valgrind's own writes, to pipes of its own, would fail too"
  : >out
  traced -o /dev/null -e trace=write -e inject=write:error=EAGAIN >&-
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
  return "$status"
}
# The same, a text written (short of vmsplice's size) into a pipe of one
# page, and the wait made to fail: the write stops there, with the page
# that went out before. Interrupted, the wait is made again, and all goes out.
poll_injected() {
  not_under wine "Wine waits in its own way"
  [ -z "$emulated" ] || skip "the emulator polls for itself"
  needs_strace
  nonblocking 4096 strace -f -qq -o /dev/null -e inject=poll,ppoll:"$1" "${runner[@]}" |
    { sleep 0.5; cat >out; }
  return "${PIPESTATUS[0]}"
}
poll_fails() { poll_injected error=ENOMEM; }
poll_interrupted() { poll_injected error=EINTR:when=1; }
# Standard output a FIFO whose reader reads along: a large text is handed to
# it by vmsplice (natively, the trace must show it).
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
  return $status
}
# vmsplice failing (strace fails it): at the first call, as a system that
# refuses it does, nothing was taken, and the text goes out again in pieces
# small enough to be written, whole; once bytes have moved (the second
# call), the output ends there, and what went out stays out.
vmsplice_injected() {
  not_under wine "Wine writes in its own way"
  needs_strace
  traced -o /dev/null -e trace=vmsplice -e inject=vmsplice:error="$1" | cat >out
  return "${PIPESTATUS[0]}"
}
vmsplice_refused() { vmsplice_injected EINVAL:when=1; }
vmsplice_fails() {
  vmsplice_injected EINVAL:when=2
  local status=$?
  [ -s out ] || problem "nothing went out before the failure"
  return "$status"
}
# Standard output the read end of a pipe that another writer has filled:
# nothing is taken from it, and every byte of the writer's arrives.
read_end() {
  : >out
  head -c 300000 /dev/zero | tr '\0' Z | { run 1<&0; echo $? >code; wc -c >count; }
  [ "$(cat count)" = 300000 ] || problem "$(cat count) of the other writer's 300000 bytes arrived"
  return "$(cat code)"
}
# Standard output a FIFO open only for reading, which another holds open for
# writing: the program must fail at once, not wait for bytes.
fifo_read_only() {
  : >out
  mkfifo fifo && exec 3<>fifo || { problem "no FIFO to read from" && return 99; }
  timeout 10 "${runner[@]}" 1<fifo
}
# after_exit PIPE-BYTES: the pipe (PIPE-BYTES wide first; 0: as it is) is read
# only once the program has ended: the widened pipe holds all of the text,
# handed over by pages the program has freed, and it must arrive exactly.
after_exit() {
  not_under wine "the pipe is Wine's to widen"
  local status
  mkfifo pipe
  exec 8<>pipe
  [ "$1" = 0 ] || perl -e 'fcntl(STDIN, 1031, 0 + shift) or die' "$1" <&8 # F_SETPIPE_SZ
  timeout 10 "${runner[@]}" >pipe
  status=$?
  timeout 3 head -c "$(stat -c %s test.txt)" <&8 >out
  exec 8>&-
  return $status
}
reader_after_exit() { after_exit 0; }
# From a pipe of one page: a text of exactly 64 KiB is a large write, and widens it.
one_page_reader_after_exit() { after_exit 4096; }
# A large write into a pipe widens it first: the reader finds it 1 MiB wide.
widened_pipe() {
  not_under wine "the pipe is Wine's to widen"
  run | perl -e 'local $/; my $all = <STDIN>; open my $out, ">", "out" or die;
                 print $out $all; printf "%d\n", fcntl(STDIN, 1032, 0)' >width # F_GETPIPE_SZ
  local status=${PIPESTATUS[0]}
  [ "$(cat width)" -ge $((1 << 20)) ] || problem "the pipe is $(cat width) bytes wide"
  return "$status"
}
# A large block's pages refused when they are faulted in: for want of
# memory (ENOMEM), no block, nothing shown; as a kernel before 5.14 refuses
# advice it doesn't know (EINVAL), the block is used all the same.
madvise_refused() {
  not_under wine "Windows has no madvise"
  [ -z "$emulated" ] || skip "qemu keeps madvise to itself"
  traced -o /dev/null -e trace=madvise -e inject=madvise:error="$1" >out
}
no_memory_to_fault_in() { madvise_refused ENOMEM; }
advice_unknown() { madvise_refused EINVAL; }
# swap TRY WRITER COMMAND...: test.txt names regular.txt while COMMAND, the
# program under strace writing "trace", runs; while strace holds a call
# back (it says DELAYED) the name is swapped for "other", a FIFO or another
# regular file. With WRITER "yes" a writer waits at the FIFO and must get
# through to a later reader. Every try must show what the first did.
swap() {
  local try=$1 writer=$2 status
  shift 2
  ln -sfn regular.txt test.txt
  rm -f trace
  [ "$writer" != yes ] || { (printf 'from the writer' >other) & echo $! >writer; }
  (
    for _ in $(seq 1000); do
      grep -q DELAYED trace 2>/dev/null && ln -sfn other test.txt && exit
      sleep 0.01
    done
  ) &
  "$@" >out 2>traced.err
  status=$?
  grep -v '^strace: Requested path' traced.err >&2
  wait $! || problem "try $try: the call was never held back"
  if [ "$writer" = yes ]; then
    timeout 5 cat other >from.fifo
    wait "$(cat writer)" && [ "$(cat from.fifo)" = 'from the writer' ] ||
      problem "try $try: the writer never got through to the later reader"
  fi
  [ "$try" = 1 ] || cmp -s out shown || problem "try $try: $(od -c out | head -2)"
  cp out shown
  return $status
}
# The name swapped for a FIFO with a writer waiting at it, once the program
# has looked at what the name held (the look held back), ten times: the
# writer never gets through, and what was looked at is what is shown.
swapped_name() {
  not_under wine "Wine opens a FIFO as a file; Windows has no FIFOs"
  needs_strace
  printf 'the regular file' >regular.txt
  mkfifo other
  for try in $(seq 10); do
    swap "$try" yes strace -f -qq -o trace -P test.txt -P regular.txt \
      -e inject=%stat,%lstat,%fstat:delay_exit=300000 "${runner[@]}" || return
  done
}
# swapped_without_proc fifo|regular: the same without /proc, the swap made
# while the name's first open, the look, is held back, for a FIFO (no writer
# at it, so an open that waited would hang) or another regular file: opened
# by name, test.txt is found not to be what was looked at, and nothing of
# what was swapped in is shown.
swapped_without_proc() {
  can_hide_proc
  needs_strace
  printf 'the regular file' >regular.txt
  if [ "$1" = fifo ]; then mkfifo other; else printf 'another file' >other; fi
  for try in 1 2 3; do
    swap "$try" no hidden_proc strace -f -qq -o trace -P test.txt \
      -e inject=open,openat:delay_exit=300000:when=1 "${runner[@]}" || return
  done
}
swapped_fifo_without_proc() { swapped_without_proc fifo; }
swapped_file_without_proc() { swapped_without_proc regular; }

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
    case $expected in
    nothing) : >expected ;;
    whole) cp test.txt expected ;;
    first:*) head -c "${expected#first:}" test.txt >expected ;;
    prefix) head -c "$(stat -c %s out)" test.txt >expected ;;
    *) printf "$expected" >expected ;;
    esac
    cmp -s out expected || { echo "stdout differs: $(od -c out | head -3)"; exit 1; }
    [ "$status" = "$code" ] || { echo "exit code $status, expected $code"; exit 1; }
    [ "$kind" = wine ] || [ ! -s err ] || { echo "wrote to stderr: $(head -5 err)"; exit 1; }
    [ ! -f problem ] || { cat problem; exit 1; }
    touch checked
  ) || return
  [ -f "$dir/checked" ] || { echo "the case ended before its checks"; return 1; }
}

# check NAME STDOUT EXIT-CODE HOW SETUP [ARG...]: STDOUT is what standard
# output must hold: "nothing"; "whole", all of test.txt as it stands after
# the run; "first:N", its first N bytes; "prefix", any of its prefixes; or
# else that text, as printf writes it.
check() {
  local name=$1 expected=$2 code=$3 how=$4
  shift 4
  case $mode in
  list) echo "$name ${timeout[$name]:-30}" && return ;;
  one) [ "$name" = "$only" ] || return 0 ;;
  esac
  local dir=$work/$name result
  attempt "$@"
  result=$?
  # Wine that never ran the program ("Application could not be started", or
  # an error of Wine's own start-up, "failed to map the shared user data",
  # which alone reads as exit code 1) has happened, rarely, for an image that
  # ran in every case around: once more, then the case counts as it came out.
  if [ "$kind" = wine ] && [ $result != 0 ] && [ $result != 77 ] &&
    { grep -qs '^Application could not be started' "$dir/out" ||
      grep -qsE '^[0-9a-f]+:err:' "$dir/err"; }; then
    echo "Wine did not run the program: $(grep -hsE '^[0-9a-f]+:err:|^Application' "$dir/err" "$dir/out" | head -1); once more"
    chmod -R u+rwx "$dir"
    rm -rf "$dir"
    attempt "$@"
    result=$?
  fi
  case $result in
  0) passed=$((passed + 1)) ;;
  77) skipped=$((skipped + 1)) ;;
  *) echo "FAILED: $name" && failed=$((failed + 1)) ;;
  esac
  chmod -R u+rwx "$dir"
  rm -rf "$dir"
  [ $mode != one ] || exit $result
}

declare -A timeout=([4g-minus-2-shown]=120 [swapped-name]=120 [swapped-fifo-without-proc]=60
  [swapped-file-without-proc]=60)
passed=0 failed=0 skipped=0

# What the program does, wherever it runs.
#     name                stdout                   exit how               setup
check no-file             'file not found'         0    to_file           true
check no-file-stdout-full nothing                  0    to_full           true
check directory           'file not found'         0    to_file           mkdir test.txt
check link-to-dir         'file not found'         0    to_file           link_to_dir
check unreadable          'file not found'         0    as_user_to_file   as_user 000 test.txt
check unsearchable-dir    'file not found'         0    as_user_to_file   as_user 600 .
check read-only           'abc'                    0    as_user_to_file   as_user 444 test.txt
check locked              'file not found'         0    to_file           locked x
check open-refused        'file not found'         0    open_refused      put 'abc'
check open-no-descriptor  'file not found'         0    open_no_descriptor put 'abc'
check empty               nothing                  0    to_file           put ''
check one-byte            'a'                      0    to_file           put 'a'
check abc                 'abc'                    0    to_file           put 'abc'
check crlf-high-bytes     'a\r\nb\x80\xfe\xff\r\n' 0    to_file           put 'a\r\nb\x80\xfe\xff\r\n'
check zero-at-3           'abc'                    0    to_file           put 'abc\0def'
check zero-first          nothing                  0    to_file           put '\0abc'
check 4g-plus-3           'xyz'                    0    to_file           sparse 4294967299 'xyz'
check 4g-minus-1          nothing                  1    to_file           sparse 4294967295 'xyz'
check 4g-minus-2-wraps    nothing                  1    to_file           only 32 sparse 4294967294 'xyz'
check 4g-minus-3-wraps    nothing                  1    to_file           only 32 sparse 4294967293 'xyz'
check 4g-minus-4-wraps    nothing                  1    to_file           only 32 sparse 4294967292 'xyz'
check 4g-minus-2-shown    'xyz'                    0    to_file           only 64 sparse 4294967294 'xyz'
check address-space-limit nothing                  1    address_space_limit sparse 67108864 'xyz'
check to-pipe             'abc\n'                  0    to_pipe           put 'abc\n'
check growing             prefix                   0    while_appending   put_megabytes 1
check shrunk              first:10                 0    shrunk            put_megabytes 1
check read-error          nothing                  1    read_error        put 'abc'
check read-interrupted    'abc'                    0    read_interrupted  put 'abc'
check stdout-closed       nothing                  1    closed            put 'abc'
check stdout-full         nothing                  1    to_full           put 'abc'
check reader-gone         nothing                  1    reader_gone       put_megabytes 1
check reader-quits        first:10                 1    reader_quits      put_megabytes 3

# What the POSIX layer does with what only POSIX has.
#     name                stdout                   exit how               setup
check fifo-with-writer    'file not found'         0    to_file           fifo_with_writer
check locked-shared       'file not found'         0    to_file           locked s
check leased              'file not found'         0    to_file           locked lease
check lock-error          'abc'                    0    lock_error        put 'abc'
check swapped-name        'the regular file'       0    swapped_name      true
check without-proc        'abc'                    0    without_proc      put 'abc'
check swapped-fifo-without-proc 'file not found'   0    swapped_fifo_without_proc true
check swapped-file-without-proc 'file not found'   0    swapped_file_without_proc true
check read-would-block    nothing                  1    read_would_block  put 'abc'
check no-memory-to-fault-in nothing                1    no_memory_to_fault_in put_kilobytes 300
check advice-unknown      whole                    0    advice_unknown    put_kilobytes 300
check size-limit          first:102400             1    size_limit        put_megabytes 1
check write-takes-nothing first:4096               1    write_takes_nothing put_two_byte_characters 4096
check stdout-read-end-64k-1 nothing                1    read_end          put_bytes 65535
check stdout-read-end-64k nothing                  1    read_end          put_bytes 65536
check stdout-read-end-100k nothing                 1    read_end          put_bytes 100000
check stdout-fifo-read-only nothing                1    fifo_read_only    put_bytes 100000
check stdout-gone-while-waiting nothing            1    no_descriptor_to_wait_on put 'abc'
check stopped-write       whole                    0    stopped_write     put_megabytes 3
check nonblocking-pipe    whole                    0    nonblocking_pipe  put_megabytes 3
check poll-fails          first:4096               1    poll_fails        put_kilobytes 60
check poll-interrupted    whole                    0    poll_interrupted  put_kilobytes 60
check to-fifo             whole                    0    to_fifo           put_megabytes 3
check vmsplice-refused    whole                    0    vmsplice_refused  put_megabytes 3
check vmsplice-fails-after-bytes prefix            1    vmsplice_fails    put_megabytes 3
check reader-after-exit   whole                    0    reader_after_exit put_kilobytes 600
check 64k-into-one-page   whole                    0    one_page_reader_after_exit put_kilobytes 64
check widened-pipe        whole                    0    widened_pipe      put_megabytes 3

case $mode in
one) echo "no case $only" >&2 && exit 2 ;;
all) echo "$passed passed, $failed failed, $skipped skipped" && [ "$failed" = 0 ] ;;
esac
