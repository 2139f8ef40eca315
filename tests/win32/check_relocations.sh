#!/usr/bin/env bash
# showfile linked for another base, with its relocations folded the same way,
# must turn into showfile.exe byte for byte when its relocation table is
# applied for a move to showfile.exe's base: the folded table is whole and
# points at every address the code and data hold.
#
#   check_relocations.sh FOLD_RELOCS ELSEWHERE.exe showfile.exe
set -u
fold=$1 elsewhere=$2 exe=$3
pe=$(dirname "$0")/pe.py
moved=$(mktemp)
trap 'rm -f "$moved"' EXIT

base=$(/usr/bin/python3 "$pe" get "$exe" OPTIONAL_HEADER.ImageBase) || exit 1
"$fold" --rebase "$elsewhere" "$moved" "$base" || exit 1
differing=$(cmp -l "$elsewhere" "$exe" | wc -l)
echo "$(/usr/bin/python3 "$pe" relocations "$exe" | wc -l) relocations; $differing bytes differ before the move"
cmp "$moved" "$exe" && [ "$differing" -gt 0 ]
