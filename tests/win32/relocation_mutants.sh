#!/usr/bin/env bash
# Shows that the relocated-load test has teeth: for each relocation entry of
# showfile.exe in turn, a copy with that one entry made a no-op
# (IMAGE_REL_BASED_ABSOLUTE) must fail relocated.sh. Slow (the whole case
# table under Wine per entry), so it is run by hand, not by ctest:
#
#   WINEPREFIX=build/win32/wineprefix WINEDEBUG=-all \
#     tests/win32/relocation_mutants.sh build/win32
set -u
build=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
. "$here/pe.sh"
exe=$build/showfile.exe
mutant=$(mktemp --suffix=.exe)
trap 'rm -f "$mutant"' EXIT
caught=0 missed=0
for entry in $(relocation_entries "$exe"); do
  cp "$exe" "$mutant"
  put16 "$mutant" "$entry" $(($(u16 "$exe" "$entry") & 0x0FFF))
  if bash "$here/relocated.sh" "$build/tests/win32/load_relocated.exe" "$mutant" \
    "$build/tests/win32/hold_file.exe" >/dev/null 2>&1; then
    echo "missed: the entry at file offset $entry"
    missed=$((missed + 1))
  else
    caught=$((caught + 1))
  fi
done
echo "$caught of $((caught + missed)) mutants caught"
[ "$missed" = 0 ]
