#!/usr/bin/env bash
# Runs the built program on a table of real files, each case in a fresh
# directory, and checks its standard output byte for byte and its exit code.
#
#   cases.sh native PROGRAM [EMULATOR...]   the native build, or a cross build
#                                           run by EMULATOR (qemu user mode)
#   cases.sh memcheck PROGRAM               the native build under valgrind's
#                                           memcheck: any error or unfreed
#                                           block fails the case
#   cases.sh wine PROGRAM HOLDER.exe        the Windows build under Wine
#
# A "holder" keeps test.txt open for the locked-file case: it prints "held"
# once it has the file and lets go when its standard input closes.
set -u
kind=$1
program=$(realpath "$2")
shift 2
hold() { flock -x -n test.txt sh -c 'echo held; cat >/dev/null'; }
case $kind in
native)
  runner=("$@" "$program")
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
*)
  echo "usage: $0 native PROGRAM [EMULATOR...] | memcheck PROGRAM | wine PROGRAM HOLDER.exe" >&2
  exit 2
  ;;
esac
run() { "${runner[@]}"; }

# A 32-bit program pads its buffer in 32 bits, so sizes just under 4 GiB wrap
# there; a 64-bit one would allocate them whole. Byte 4 of an ELF header is 1
# for 32-bit; a PE32 image under Wine is 32-bit.
if [ "$kind" = wine ] || [ "$(od -An -tu1 -j4 -N1 "$program" | tr -d ' ')" = 1 ]; then
  bits=32
else
  bits=64
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0
skipped=0

# skip REASON: leaves the case out, saying why.
skip() {
  echo "$REASON_PREFIX$1"
  exit 77
}

# Setups: each makes test.txt (or not) in the current directory. One that
# starts something leaves the command that must finish it, successfully,
# in the file "after".
put() { printf "$1" >test.txt; }
sparse() {
  truncate -s "$1" test.txt
  printf "$2" | dd of=test.txt conv=notrunc status=none
}
# sparse on a 32-bit program only, where the padded size wraps
sparse32() {
  [ $bits = 32 ] || skip "a $bits-bit program allocates this size whole"
  sparse "$@"
}
link_to_dir() {
  mkdir folder
  ln -s folder test.txt
}
put_megabytes() { yes 'there before the start' | head -c $(($1 << 20)) >test.txt; }
locked() {
  put 'abc'
  mkfifo release
  hold <release >holding &
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
  [ "$kind" != wine ] || skip "Wine opens a FIFO as a file; Windows has no FIFOs"
  mkfifo test.txt
  (printf 'from the writer' >test.txt) &
  echo $! >writer
  cat >after <<'AFTER'
timeout 10 cat test.txt >from.fifo
wait "$(cat writer)" && [ "$(cat from.fifo)" = 'from the writer' ]
AFTER
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
  [ "$kind" != wine ] || skip "SIGXFSZ ends Wine itself; Windows has no such limit"
  (
    ulimit -f 100
    run >out
  )
  local status=$?
  head -c $((100 << 10)) test.txt >expected.prefix
  return $status
}
# Standard output a non-blocking pipe whose reader starts late: the program
# must wait for room, and the whole file arrive.
nonblocking_pipe() {
  perl -MFcntl -e 'fcntl(STDOUT, F_SETFL, fcntl(STDOUT, F_GETFL, 0) | O_NONBLOCK) or die;
                   exec @ARGV or die' "${runner[@]}" | { sleep 0.5; cat >out; }
  local status=${PIPESTATUS[0]}
  cp test.txt expected.prefix
  return "$status"
}
# strace fails the program's own calls on test.txt alone (-P), not those of
# the C library, an emulator or valgrind.
injected() {
  command -v strace >/dev/null || skip "strace is not installed"
  strace -f -qq -o /dev/null -P "$PWD/test.txt" -e inject="$1" "${runner[@]}" >out
}
read_error() { injected read:error=EIO; }
lock_error() {
  [ "$kind" != wine ] || skip "Wine keeps share modes in its server and takes no flock"
  injected flock:error=ENOLCK
}

# check NAME EXPECTED-STDOUT(printf) EXIT-CODE HOW SETUP [ARG...]
check() {
  local name=$1 expected=$2 code=$3 how=$4
  shift 4
  local dir=$work/$name
  mkdir "$dir"
  (
    cd "$dir" || exit 99
    REASON_PREFIX="skipped: $name: "
    "$@"
    "$how" 2>err
    status=$?
    [ -f after ] && { . ./after || { echo "what the setup started did not finish well"; exit 1; }; }
    printf "$expected" >expected
    [ -f expected.prefix ] && mv expected.prefix expected
    cmp -s out expected || { echo "stdout differs: $(od -c out | head -3)"; exit 1; }
    [ "$status" = "$code" ] || { echo "exit code $status, expected $code"; exit 1; }
    [ "$kind" = wine ] || [ ! -s err ] || { echo "wrote to stderr: $(head -5 err)"; exit 1; }
  )
  case $? in
  0) passed=$((passed + 1)) ;;
  77) skipped=$((skipped + 1)) ;;
  *)
    echo "FAILED: $name"
    failed=$((failed + 1))
    ;;
  esac
  rm -rf "$dir"
}

#     name               stdout                   exit  how               setup
check no-file            'file not found'         0     to_file           true
check no-file-to-pipe    'file not found'         0     to_pipe           true
check no-file-stdout-full ''                      0     to_full           true
check directory          'file not found'         0     to_file           mkdir test.txt
check link-to-dir        'file not found'         0     to_file           link_to_dir
check fifo-with-writer   'file not found'         0     to_file           fifo_with_writer
check locked             'file not found'         0     to_file           locked
check empty              ''                       0     to_file           put ''
check abc                'abc'                    0     to_file           put 'abc'
check crlf-high-bytes    'a\r\nb\x80\xfe\xff\r\n' 0     to_file           put 'a\r\nb\x80\xfe\xff\r\n'
check zero-at-3          'abc'                    0     to_file           put 'abc\0def'
check zero-first         ''                       0     to_file           put '\0abc'
check 4g-plus-3          'xyz'                    0     to_file           sparse 4294967299 'xyz'
check 4g-minus-1         ''                       1     to_file           sparse 4294967295 'xyz'
check 4g-minus-2         ''                       1     to_file           sparse32 4294967294 'xyz'
check 4g-minus-3         ''                       1     to_file           sparse32 4294967293 'xyz'
check 4g-minus-4         ''                       1     to_file           sparse32 4294967292 'xyz'
check to-pipe            'abc\n'                  0     to_pipe           put 'abc\n'
check growing            ''                       0     while_appending   put_megabytes 1
check read-error         ''                       1     read_error        put 'abc'
check lock-error         'abc'                    0     lock_error        put 'abc'
check stdout-closed      ''                       1     closed            put 'abc'
check stdout-full        ''                       1     to_full           put 'abc'
check reader-gone        ''                       1     reader_gone       put 'abc'
check reader-quits       ''                       1     reader_quits      put_megabytes 3
check size-limit         ''                       1     size_limit        put_megabytes 1
check nonblocking-pipe   ''                       0     nonblocking_pipe  put_megabytes 3

echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" = 0 ]
