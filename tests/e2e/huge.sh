#!/usr/bin/env bash
# A real file with no zero byte, over 2 GiB unless told otherwise, made in
# the current directory (on disk) and removed after, must come out whole and
# in order: more than one read or write call moves on Linux, and more than a
# 32-bit program has room for unless it is large-address-aware.
#
#   huge.sh [--bytes N] PROGRAM [RUNNER...]   RUNNER: an emulator, or wine
set -u
size=$(((2 << 30) + (1 << 20) + 7))
if [ "$1" = --bytes ]; then
  size=$2
  shift 2
fi
program=$(realpath "$1")
shift
work=$(mktemp -d -p "$PWD" huge.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

yes 'a line of the huge file, with no zero byte in it' | head -c $size >test.txt
[ "$(stat -c %s test.txt)" = $size ] || { echo "could not make a $size-byte file"; exit 1; }

"$@" "$program" | tee >(wc -c >count) | cksum >shown
status=${PIPESTATUS[0]}
cksum <test.txt >expected
wait
echo "exit code $status, $(cat count) bytes out of $size, cksum $(cat shown) against $(cat expected)"
[ "$status" = 0 ] && [ "$(cat count)" = $size ] && cmp -s shown expected
