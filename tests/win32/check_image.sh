#!/usr/bin/env bash
# Checks that showfile.exe is what it claims to be: a small console program,
# PE32 for i386 or PE32+ for x86-64, that imports the ten kernel32 operations
# and nothing else, with ASLR (relocations kept; high-entropy on 64 bits) and
# DEP on, large-address-aware, with no link time in it, no unwind tables, no
# section both writable and executable, and a layout a loader takes.
#
#   check_image.sh showfile.exe MAX-BYTES LINKED.exe FOLD_RELOCS VERSION BITS
#
# VERSION (such as 4.0) is the least Windows the image must declare as both
# its OS and its subsystem version: a loader older than either refuses it,
# which no run under Wine shows.
# LINKED.exe is the image as the linker wrote it, whose .reloc section must
# reappear byte for byte where showfile.exe's relocation directory points.
set -u
exe=$1 limit=$2 linked=$3 fold=$4 version=$5 bits=$6
. "$(dirname "$0")/pe.sh"
failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

size_on_disk=$(stat -c %s "$exe")
[ "$size_on_disk" -le "$limit" ] || fail "$size_on_disk bytes, more than $limit"

headers "$exe"
[ "$(u32 "$exe" $((file - 4)))" = 17744 ] || fail "no PE signature" # "PE\0\0"
if [ "$bits" = 64 ]; then
  [ "$(u16 "$exe" "$file")" = 34404 ] || fail "machine is not x86-64"  # 0x8664
  [ "$magic" = 523 ] || fail "not a PE32+ optional header"             # 0x20B
else
  [ "$(u16 "$exe" "$file")" = 332 ] || fail "machine is not i386"      # 0x14C
  [ "$magic" = 267 ] || fail "not a PE32 optional header"              # 0x10B
fi
characteristics=$(u16 "$exe" $((file + 18)))
[ $((characteristics & 0x0001)) = 0 ] || fail "relocations stripped"
[ $((characteristics & 0x0020)) != 0 ] || fail "not large-address-aware"
[ "$(u32 "$exe" $((file + 4)))" = 0 ] || fail "a link time is written into the image"
[ "$(u16 "$exe" $((optional + 68)))" = 3 ] || fail "subsystem is not the console"
os=$(u16 "$exe" $((optional + 40))).$(u16 "$exe" $((optional + 42)))
subsystem=$(u16 "$exe" $((optional + 48))).$(u16 "$exe" $((optional + 50)))
[ "$os" = "$version" ] || fail "OS version $os, not $version"
[ "$subsystem" = "$version" ] || fail "subsystem version $subsystem, not $version"
flags=$(u16 "$exe" $((optional + 70)))
[ $((flags & 0x0040)) != 0 ] || fail "DYNAMIC_BASE is off"
[ $((flags & 0x0100)) != 0 ] || fail "NX_COMPAT is off"
[ "$bits" = 32 ] || [ $((flags & 0x0020)) != 0 ] || fail "HIGH_ENTROPY_VA is off"
[ "$(u32 "$exe" $((directories + 3 * 8 + 4)))" = 0 ] || fail "it has unwind tables (.pdata)"
# The whole table where the directory points, and byte for byte the linker's.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
relocations "$linked" >"$work/linked"
relocations "$exe" >"$work/folded"
[ "$reloc_size" -gt 0 ] && [ "$(stat -c %s "$work/folded")" = "$reloc_size" ] ||
  fail "the relocation table is not whole: $(stat -c %s "$work/folded") of $reloc_size bytes"
cmp -s "$work/folded" "$work/linked" || fail "relocations differ from the linker's"
[ "$(u32 "$exe" $((optional + 36)))" = 512 ] || fail "file alignment is not 512"
"$fold" --check "$exe" || fail "the layout breaks a loader's rules"

# Every header field fold_relocs writes, against what the linker's sections
# say it must be: the same sections less .reloc, whose table follows
# .rdata's contents on the next 4-byte boundary, the data laid out in turn
# behind the headers, and the sums over the sections.
want() { # want FIELD GOT EXPECTED
  [ "$2" = "$3" ] || fail "$1 is $2, not $3"
}
align() { echo $((($1 + $2 - 1) / $2 * $2)); }
field() { u32 "$1" $((table + $2 * 40 + $3)); } # field IMAGE INDEX OFFSET, after `headers IMAGE`
headers "$linked"
declare -A was
for ((i = 0; i < sections; i++)); do
  for at in 8 12 16 36; do was[$i,$at]=$(field "$linked" $i $at); done
  name=$(dd if="$linked" bs=1 skip=$((table + i * 40)) count=8 status=none | tr -d '\0')
  [ "$name" = .rdata ] && rdata=$i
done
linked_sections=$sections linked_relocations=$(u32 "$linked" $((directories + 5 * 8 + 4)))
headers "$exe"
want "the section count" "$sections" $((linked_sections - 1))
section_alignment=$(u32 "$exe" $((optional + 32)))
raw=$(align $((table + sections * 40)) 512) initialized=0 end=0
want SizeOfHeaders "$(u32 "$exe" $((optional + 60)))" "$raw"
for ((i = 0; i < sections; i++)); do
  size=${was[$i,8]} bytes=${was[$i,16]}
  if [ "$i" = "$rdata" ]; then
    want "the relocation directory's address" "$(u32 "$exe" $((directories + 5 * 8)))" \
      $((was[$i,12] + $(align "$size" 4)))
    size=$(($(align "$size" 4) + linked_relocations))
    bytes=$(align "$size" 512)
    [ "$bytes" -ge "${was[$i,16]}" ] || bytes=${was[$i,16]}
  fi
  want "section $i's VirtualSize" "$(field "$exe" $i 8)" "$size"
  want "section $i's VirtualAddress" "$(field "$exe" $i 12)" "${was[$i,12]}"
  want "section $i's SizeOfRawData" "$(field "$exe" $i 16)" "$bytes"
  want "section $i's PointerToRawData" "$(field "$exe" $i 20)" $((bytes ? raw : 0))
  want "section $i's Characteristics" "$(field "$exe" $i 36)" "${was[$i,36]}"
  raw=$((raw + bytes))
  [ $((was[$i,36] & 0x40)) = 0 ] || initialized=$((initialized + bytes))
  end=$(align $((was[$i,12] + (size > bytes ? size : bytes))) "$section_alignment")
done
want SizeOfInitializedData "$(u32 "$exe" $((optional + 8)))" "$initialized"
want SizeOfImage "$(u32 "$exe" $((optional + 56)))" "$end"
want CheckSum "$(u32 "$exe" $((optional + 64)))" 0
want "the file's size" "$size_on_disk" "$raw"

for ((i = 0; i < sections; i++)); do
  traits=$(u32 "$exe" $((table + i * 40 + 36)))
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

echo "$exe: $size_on_disk bytes; $((failures == 0)) passed, $((failures > 0)) failed"
[ "$failures" = 0 ]
