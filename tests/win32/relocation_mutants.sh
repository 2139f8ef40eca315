#!/usr/bin/env bash
# Shows that the relocated-load test has teeth: for each relocation entry of
# showfile.exe in turn, a copy with that one entry made a no-op
# (IMAGE_REL_BASED_ABSOLUTE) must fail the relocated load or the case table
# run through it. The unchanged image must pass first, or no mutant proves
# anything.
#
#   relocation_mutants.sh BUILD-DIR BITS     WINEPREFIX names the Wine prefix
set -u
build=$(realpath "$1") bits=$2
here=$(dirname "$(realpath "$0")")
. "$here/pe.sh"
# Wine wants the prefix's full path, and the runs below change directory.
export WINEPREFIX=$(realpath -m "${WINEPREFIX:-$HOME/.wine}")
exe=$build/showfile.exe
host=$build/tests/win32/load_relocated.exe
holder=$build/tests/win32/hold_file.exe
strict=$build/tests/win32/STRICT32.dll
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# passes IMAGE: the relocated load of IMAGE, and the table through it, pass.
passes() {
  bash "$here/relocated.sh" "$host" "$1" "$strict" "$work/load" >/dev/null 2>&1 &&
    bash "$here/../e2e/cases.sh" --bits "$bits" wine "$work/load/load_relocated.exe" \
      "$holder" >"$work/table" 2>&1
}
if ! passes "$exe"; then
  echo "the unchanged showfile.exe fails the relocated load: no mutant would prove anything"
  tail -5 "$work/table" 2>/dev/null
  exit 1
fi
echo "the unchanged showfile.exe passes: $(tail -1 "$work/table")"

caught=0 missed=0
for entry in $(relocation_entries "$exe"); do
  cp "$exe" "$work/mutant.exe"
  put16 "$work/mutant.exe" "$entry" $(($(u16 "$exe" "$entry") & 0x0FFF))
  if passes "$work/mutant.exe"; then
    echo "missed: the entry at file offset $entry"
    missed=$((missed + 1))
  else
    caught=$((caught + 1))
  fi
done
echo "$caught of $((caught + missed)) mutants caught"
[ "$missed" = 0 ] && [ "$caught" -gt 0 ]
