#!/usr/bin/env bash
# The relocated-load test has teeth: with each relocation entry in turn made
# a no-op (IMAGE_REL_BASED_ABSOLUTE), a copy of showfile.exe must fail the
# relocated load or the case table run through it. The unchanged image must
# pass first, or no mutant proves anything.
#
#   relocation_mutants.sh BUILD-DIR BITS     WINEPREFIX names the Wine prefix
set -u
build=$(realpath "$1") bits=$2
here=$(dirname "$(realpath "$0")")
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
# The list comes on a descriptor of its own: Wine and the table read standard input.
while read -r entry address <&3; do
  cp "$exe" "$work/mutant.exe"
  /usr/bin/python3 "$here/pe.py" set "$work/mutant.exe" "$entry.type = IMAGE_REL_BASED_ABSOLUTE" || exit 1
  if passes "$work/mutant.exe"; then
    echo "missed: $entry, which moves the address at $address"
    missed=$((missed + 1))
  else
    caught=$((caught + 1))
  fi
done 3< <(/usr/bin/python3 "$here/pe.py" relocations "$exe")
echo "$caught of $((caught + missed)) mutants caught"
[ "$missed" = 0 ] && [ "$caught" -gt 0 ]
