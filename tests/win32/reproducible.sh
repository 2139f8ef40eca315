#!/usr/bin/env bash
# A second build of showfile.exe from the same sources, configured by the same
# preset in another directory, must give the same bytes.
#
#   reproducible.sh SOURCE-DIR BUILD-DIR showfile.exe
set -u
source=$1 build=$2 exe=$3
rm -rf "$build"
cmake -S "$source" --preset win32 -B "$build" -DSHOWFILE_TESTS=OFF >/dev/null &&
  cmake --build "$build" --target showfile.exe_folded >/dev/null || exit 1
cmp "$build/showfile.exe" "$exe" && echo "the same $(stat -c %s "$exe") bytes from $build"
