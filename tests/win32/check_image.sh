#!/usr/bin/env bash
# Checks that showfile.exe is what it claims to be: a small PE32 console
# program for i386 that imports the ten kernel32 operations and nothing else,
# with ASLR (relocations kept) and DEP on, and no section both writable and
# executable.
#
#   check_image.sh showfile.exe MAX-BYTES LINKED.exe
#
# LINKED.exe is the image as the linker wrote it, whose .reloc section must
# reappear byte for byte where showfile.exe's relocation directory points.
set -u
exe=$1 limit=$2 linked=$3
failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}
u16() { od -An -tu2 -j"$1" -N2 "${2:-$exe}" | tr -d ' '; }
u32() { od -An -tu4 -j"$1" -N4 "${2:-$exe}" | tr -d ' '; }

# relocations IMAGE: the bytes its base relocation directory points at.
relocations() {
  local image=$1 pe optional table rva size i va
  pe=$(u32 60 "$image")
  optional=$((pe + 24))
  table=$((optional + $(u16 $((pe + 20)) "$image")))
  rva=$(u32 $((optional + 136)) "$image") size=$(u32 $((optional + 140)) "$image")
  for ((i = 0; i < $(u16 $((pe + 6)) "$image"); i++)); do
    va=$(u32 $((table + i * 40 + 12)) "$image")
    if [ "$rva" -ge "$va" ] && [ "$rva" -lt $((va + $(u32 $((table + i * 40 + 8)) "$image"))) ]; then
      tail -c +$(($(u32 $((table + i * 40 + 20)) "$image") + rva - va + 1)) "$image" | head -c "$size"
      return
    fi
  done
}

size=$(stat -c %s "$exe")
[ "$size" -le "$limit" ] || fail "$size bytes, more than $limit"

pe=$(u32 60)
[ "$(u32 "$pe")" = 17744 ] || fail "no PE signature" # "PE\0\0"
file=$((pe + 4)) optional=$((pe + 24))
[ "$(u16 "$file")" = 332 ] || fail "machine is not i386"          # 0x14C
[ "$(u16 "$optional")" = 267 ] || fail "not a PE32 optional header" # 0x10B
[ $(($(u16 $((file + 18))) & 0x0001)) = 0 ] || fail "relocations stripped"
[ "$(u16 $((optional + 68)))" = 3 ] || fail "subsystem is not the console"
flags=$(u16 $((optional + 70)))
[ $((flags & 0x0040)) != 0 ] || fail "DYNAMIC_BASE is off"
[ $((flags & 0x0100)) != 0 ] || fail "NX_COMPAT is off"
[ "$(u32 $((optional + 140)))" -gt 0 ] || fail "no base relocations"
cmp -s <(relocations "$exe") <(relocations "$linked") || fail "relocations differ from the linker's"
[ "$(u32 $((optional + 36)))" = 512 ] || fail "file alignment is not 512"

sections=$(u16 $((file + 2)))
table=$((optional + $(u16 $((file + 16)))))
for ((i = 0; i < sections; i++)); do
  traits=$(u32 $((table + i * 40 + 36)))
  if [ $((traits & 0x80000000)) != 0 ] && [ $((traits & 0x20000000)) != 0 ]; then
    fail "section $i is both writable and executable"
  fi
done

imports=$(objdump -p "$exe" | awk '
  /DLL Name:/ { print "dll " $3; listing = 1; next }
  listing && /^\t[0-9a-f]+\t/ { print $NF; next }
  listing && /^$/ { listing = 0 }' | sort | tr '\n' ' ')
expected="CloseHandle CreateFileA ExitProcess GetFileSize GetProcessHeap GetStdHandle HeapAlloc HeapFree ReadFile WriteFile dll KERNEL32.dll "
[ "$imports" = "$expected" ] || fail "imports are: $imports"

echo "$exe: $size bytes; $((failures == 0)) passed, $((failures > 0)) failed"
[ "$failures" = 0 ]
