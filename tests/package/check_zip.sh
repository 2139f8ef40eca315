#!/usr/bin/env bash
# The Windows ZIP, as CPack makes it from this build: what it holds, and the
# showfile.exe in it run under Wine on the sample.
#
#   check_zip.sh BUILD-DIR VERSION SAMPLE-DIR BITS
set -u
build=$1 version=$2 sample=$(realpath "$3") bits=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$work/packages" >/dev/null || exit 1
zip=$work/packages/showfile-$version-win$bits.zip
[ -f "$zip" ] || { echo "no $(basename "$zip") among: $(ls "$work/packages")"; exit 1; }
# Made again a second later, it is the same, byte for byte.
sleep 1
cpack --config "$build/CPackConfig.cmake" -B "$work/again" >/dev/null || exit 1
cmp "$zip" "$work/again/$(basename "$zip")" || { echo "a second ZIP differs from the first"; exit 1; }
unzip -q "$zip" -d "$work"
top=$work/showfile-$version-win$bits
listing=$(cd "$top" && ls | tr '\n' ' ')
[ "$listing" = "LICENSE.txt README.txt showfile.exe " ] || { echo "the ZIP holds: $listing"; exit 1; }
tr -d "\r" <"$top/README.txt" | grep -qx "showfile $version for .*Windows" || { echo "README.txt names no version"; exit 1; }

(cd "$sample" && wine "$top/showfile.exe") >"$work/shown"
status=$?
echo "$(basename "$zip"): showfile.exe exit code $status"
[ "$status" = 0 ] && cmp "$work/shown" "$sample/test.txt"
