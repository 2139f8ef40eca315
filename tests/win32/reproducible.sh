#!/usr/bin/env bash
# A second build of showfile.exe from the same sources, configured by the same
# preset in another directory, must give the same bytes, and the build must
# print no warning, from the compiler or from make.
#
#   reproducible.sh SOURCE-DIR BUILD-DIR showfile.exe PRESET
set -u
source=$1 build=$2 exe=$3 preset=$4
rm -rf "$build"
cmake -S "$source" --preset "$preset" -B "$build" -DSHOWFILE_TESTS=OFF >/dev/null || exit 1
said=$(cmake --build "$build" --target showfile.exe_folded 2>&1) || { echo "$said"; exit 1; }
if grep -iE 'warning|circular' <<<"$said"; then
  echo "the build printed warnings"
  exit 1
fi
cmp "$build/showfile.exe" "$exe" && echo "the same $(stat -c %s "$exe") bytes from $build"
