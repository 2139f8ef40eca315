#!/usr/bin/env bash
# showfile.exe as Windows runs it under ASLR, moved by Wine's loader:
# load_relocated.exe, whose own image takes showfile's base, loads a copy
# marked as a DLL. This puts the two in DIR and checks one run that the
# loader moved showfile; the case table then runs DIR/load_relocated.exe.
# The copy imports STRICT32.dll, so that a relocation missed where only a
# handle to close or a block to free moves still shows.
#
#   relocated.sh load_relocated.exe showfile.exe STRICT32.dll DIR
set -u
host=$1 exe=$2 strict=$3 dir=$4
pe=$(dirname "$0")/pe.py

rm -rf "$dir" && mkdir -p "$dir/run" || exit 1
cp "$host" "$dir/load_relocated.exe"
cp "$exe" "$dir/showfile.dll"
cp "$strict" "$dir/STRICT32.dll"
/usr/bin/python3 "$pe" rename-import "$dir/showfile.dll" STRICT32 || exit 1
/usr/bin/python3 "$pe" set "$dir/showfile.dll" 'FILE_HEADER.Characteristics |= IMAGE_FILE_DLL' || exit 1
base=$(/usr/bin/python3 "$pe" get "$exe" OPTIONAL_HEADER.ImageBase) || exit 1

cd "$dir/run" || exit 1
printf 'abc' >test.txt
WINEDEBUG=+loaddll wine ../load_relocated.exe >out 2>log
status=$?
address=$(sed -n 's/.*showfile\.dll" at \([0-9A-Fa-f]*\).*/\1/p' log | head -1)
echo "showfile.dll loaded at 0x${address:-?}, linked for 0x$(printf %X "$base"); exit code $status"
[ -n "$address" ] && [ $((16#$address)) != "$base" ] && [ "$(cat out)" = abc ] && [ $status = 0 ]
