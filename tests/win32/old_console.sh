#!/usr/bin/env bash
# showfile.exe over the WriteFile of the console of Windows 7 and earlier, by
# copies importing a stand-in in place of KERNEL32.dll: OLDCON32.dll refuses
# any write over 64 KiB; CON65001.dll reports characters, not bytes, as in
# code page 65001; OLDCON65.dll does both. A text must come out whole, exit
# code 0, after the refusals expected, in pieces that end between characters.
#
#   old_console.sh showfile.exe OLDCON32.dll OLDCON65.dll CON65001.dll
set -u
exe=$1
pe=$(dirname "$0")/pe.py
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for console in OLDCON32 OLDCON65 CON65001; do
  cp "$2" "$work/$console.dll"
  cp "$exe" "$work/$console.exe"
  /usr/bin/python3 "$pe" rename-import "$work/$console.exe" $console || exit 1
  shift
done

failures=0
# show CONSOLE NAME REFUSALS [CUTS]: runs the copy over CONSOLE on test.txt;
# the text must come out whole, exit code 0, with REFUSALS writes refused
# and CUTS writes (none unless told) ending before a byte that starts no
# character.
show() {
  (cd "$work" && wine "./$1.exe" >out 2>err)
  local status=$? refused cut
  refused=$(grep -c 'refused a write' "$work/err") cut=$(grep -c 'cut a character' "$work/err")
  if [ $status = 0 ] && cmp -s "$work/out" "$work/test.txt" && [ "$refused" = "$3" ] &&
    [ "$cut" = "${4:-0}" ]; then
    echo "$1, $2: whole, exit code 0, $refused writes refused"
  else
    echo "FAILED: $1, $2: exit code $status, $(stat -c %s "$work/out") of $(stat -c %s "$work/test.txt") bytes, $refused writes refused, $cut characters cut"
    failures=$((failures + 1))
  fi
}
yes 'a line of a text larger than an old console takes in one write' | head -c 100000 >"$work/test.txt"
show OLDCON32 "100 KB" 1
show OLDCON65 "100 KB" 1
printf 'abc' >"$work/test.txt"
show OLDCON32 "3 bytes" 0
# 2-, 3- and 4-byte characters: 312,000 bytes, and one short line.
yes 'Grüße, Καλημέρα, 你好, 😀 and 𝄞' | head -c 312000 >"$work/test.txt"
show OLDCON65 "312 KB of UTF-8" 1
show CON65001 "312 KB of UTF-8" 0
printf 'αβγ\n' >"$work/test.txt"
show OLDCON65 "αβγ" 0
# Bytes that start no character, which such a console counts as none: one
# write of 40,000, then 100,000 in pieces of 32,765, each before such a byte.
head -c 40000 /dev/zero | tr '\0' '\200' >"$work/test.txt"
show CON65001 "40 KB of continuation bytes" 0
head -c 100000 /dev/zero | tr '\0' '\200' >"$work/test.txt"
show OLDCON65 "100 KB of continuation bytes" 1 3
[ "$failures" = 0 ]
