#!/usr/bin/env bash
# showfile.exe over the WriteFile of an old console, one that refuses any
# single write over 64 KiB: a copy of the image whose imports name
# old_console.dll (OLDCON32.dll) in place of KERNEL32.dll. A 100 KB text must
# still come out whole, exit code 0, after the one refused write; a small one
# goes out in its one write.
#
#   old_console.sh showfile.exe OLDCON32.dll
set -u
exe=$1 console=$2
. "$(dirname "$0")/pe.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$console" "$work/OLDCON32.dll"
cp "$exe" "$work/showfile.exe"
rename_import "$work/showfile.exe" OLDCON32 || exit 1

failures=0
# show NAME REFUSALS: runs the copy on test.txt; the text must come out whole,
# exit code 0, with REFUSALS writes refused.
show() {
  (cd "$work" && wine ./showfile.exe >out 2>err)
  local status=$? refused
  refused=$(grep -c 'refused a write' "$work/err")
  if [ $status = 0 ] && cmp -s "$work/out" "$work/test.txt" && [ "$refused" = "$2" ]; then
    echo "$1: whole, exit code 0, $refused writes refused"
  else
    echo "FAILED: $1: exit code $status, $(stat -c %s "$work/out") of $(stat -c %s "$work/test.txt") bytes, $refused writes refused"
    failures=$((failures + 1))
  fi
}
yes 'a line of a text larger than an old console takes in one write' | head -c 100000 >"$work/test.txt"
show "100 KB" 1
printf 'abc' >"$work/test.txt"
show "3 bytes" 0
[ "$failures" = 0 ]
