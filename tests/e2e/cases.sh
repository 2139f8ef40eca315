#!/usr/bin/env bash
# Runs the built program on a table of real files, each case in a fresh
# directory, and checks its standard output byte for byte and its exit code.
#
#   cases.sh native PROGRAM            the native build
#   cases.sh memcheck PROGRAM          the native build under valgrind's memcheck:
#                                      any error or unfreed block fails the case
#   cases.sh wine PROGRAM HOLDER.exe   the Windows build under Wine
#
# A "holder" keeps test.txt open for the locked-file case: it prints "held"
# once it has the file and lets go when its standard input closes.
set -u
kind=$1
program=$(realpath "$2")
hold() { flock -x -n test.txt sh -c 'echo held; cat >/dev/null'; }
case $kind in
native)
  run() { "$program"; }
  ;;
memcheck)
  # Loads that reach partly past a block count as errors too: they are
  # what a scan that overruns its storage does.
  run() {
    valgrind -q --error-exitcode=99 --partial-loads-ok=no --leak-check=full \
      --show-leak-kinds=all --errors-for-leak-kinds=all "$program"
  }
  ;;
wine)
  holder=$(realpath "$3")
  run() { wine "$program"; }
  hold() { wine "$holder"; }
  ;;
*)
  echo "usage: $0 native|memcheck PROGRAM | wine PROGRAM HOLDER.exe" >&2
  exit 2
  ;;
esac

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

# Setups: each makes test.txt (or not) in the current directory.
put() { printf "$1" >test.txt; }
sparse() {
  truncate -s "$1" test.txt
  printf "$2" | dd of=test.txt conv=notrunc status=none
}
link_to_dir() {
  mkdir folder
  ln -s folder test.txt
}
put_megabyte() { yes 'there before the start' | head -c $((1 << 20)) >test.txt; }
locked() {
  put 'abc'
  mkfifo release
  hold <release >holding &
  exec 9>release
  for _ in $(seq 400); do
    grep -q held holding 2>/dev/null && return 0
    sleep 0.05
  done
  echo "the holder never took test.txt"
}
unlock() {
  [ -p release ] || return 0
  exec 9>&-
  wait
}

# Ways to run: where standard output goes. Each leaves stdout in "out".
to_file() { run >out; }
to_pipe() { run | cat >out; }
closed() { run >&- && : >out; }
to_full() { run >/dev/full && : >out; }
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

# check NAME EXPECTED-STDOUT(printf) EXIT-CODE HOW SETUP [ARG...]
check() {
  local name=$1 expected=$2 code=$3 how=$4
  shift 4
  local dir=$work/$name
  mkdir "$dir"
  (
    cd "$dir" || exit 99
    "$@"
    "$how" 2>err
    status=$?
    unlock
    printf "$expected" >expected
    [ -f expected.prefix ] && mv expected.prefix expected
    cmp -s out expected || { echo "stdout differs: $(od -c out | head -3)"; exit 1; }
    [ "$status" = "$code" ] || { echo "exit code $status, expected $code"; exit 1; }
    [ "$kind" = wine ] || [ ! -s err ] || { echo "wrote to stderr: $(head -5 err)"; exit 1; }
  )
  if [ $? = 0 ]; then
    passed=$((passed + 1))
  else
    echo "FAILED: $name"
    failed=$((failed + 1))
  fi
  rm -rf "$dir"
}

#     name             stdout                   exit  how          setup
check no-file          'file not found'         0     to_file      true
check directory        'file not found'         0     to_file      mkdir test.txt
check locked           'file not found'         0     to_file      locked
check empty            ''                       0     to_file      put ''
check abc              'abc'                    0     to_file      put 'abc'
check crlf-high-bytes  'a\r\nb\x80\xfe\xff\r\n' 0     to_file      put 'a\r\nb\x80\xfe\xff\r\n'
check zero-at-3        'abc'                    0     to_file      put 'abc\0def'
check zero-first       ''                       0     to_file      put '\0abc'
check 4g-plus-3        'xyz'                    0     to_file      sparse 4294967299 'xyz'
check 4g-minus-1       ''                       1     to_file      sparse 4294967295 'xyz'
check to-pipe          'abc\n'                  0     to_pipe      put 'abc\n'
check stdout-closed    ''                       0     closed       put 'abc'
check stdout-full      ''                       0     to_full      put 'abc'
check reader-gone      ''                       0     reader_gone  put 'abc'
check no-file-to-pipe  'file not found'         0     to_pipe      true
check link-to-dir      'file not found'         0     to_file      link_to_dir
check growing          ''                       0     while_appending  put_megabyte

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
