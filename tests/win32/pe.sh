# Reading and patching a PE32 or PE32+ image's headers from the shell, for
# the checks on showfile.exe. Sourced; offsets are in bytes from the file's
# start.

u16() { od -An -tu2 -j"$2" -N2 "$1" | tr -d ' '; }
u32() { od -An -tu4 -j"$2" -N4 "$1" | tr -d ' '; }
u64() { od -An -tu8 -j"$2" -N8 "$1" | tr -d ' '; }

# put16/put32 IMAGE OFFSET VALUE: overwrite a little-endian field in place.
put_bytes() {
  local image=$1 at=$2 value=$3 count=$4 bytes= i
  for ((i = 0; i < count; i++)); do
    bytes+=$(printf '\\x%02x' $(((value >> (8 * i)) & 0xFF)))
  done
  printf "$bytes" | dd of="$image" bs=1 seek="$at" conv=notrunc status=none
}
put16() { put_bytes "$1" "$2" "$3" 2; }
put32() { put_bytes "$1" "$2" "$3" 4; }

# Where the headers are: after `headers IMAGE`, $file is the file header,
# $optional the optional header, $table the section table, $sections the
# number of sections, $directories the data directories, and $base the
# image base. The two formats differ in the base's width and so in where
# the directories start.
headers() {
  local pe
  pe=$(u32 "$1" 60)
  file=$((pe + 4)) optional=$((pe + 24))
  table=$((optional + $(u16 "$1" $((file + 16)))))
  sections=$(u16 "$1" $((file + 2)))
  magic=$(u16 "$1" "$optional")
  if [ "$magic" = 523 ]; then # 0x20B, PE32+
    directories=$((optional + 112)) base=$(u64 "$1" $((optional + 24)))
  else
    directories=$((optional + 96)) base=$(u32 "$1" $((optional + 28)))
  fi
}

# offset IMAGE RVA: the file offset of an address, where a section has bytes.
offset() {
  local image=$1 rva=$2 i at va
  headers "$image"
  for ((i = 0; i < sections; i++)); do
    at=$((table + i * 40)) va=$(u32 "$image" $((table + i * 40 + 12)))
    if [ "$rva" -ge "$va" ] && [ "$rva" -lt $((va + $(u32 "$image" $((at + 16))))) ]; then
      echo $(($(u32 "$image" $((at + 20))) + rva - va))
      return
    fi
  done
}

# relocation_table IMAGE: where its base relocation directory points, as
# $reloc_at (a file offset) and $reloc_size.
relocation_table() {
  headers "$1"
  reloc_size=$(u32 "$1" $((directories + 5 * 8 + 4)))
  reloc_at=$(offset "$1" "$(u32 "$1" $((directories + 5 * 8)))")
}

# relocations IMAGE: the bytes its base relocation directory points at.
relocations() {
  relocation_table "$1"
  tail -c +$((reloc_at + 1)) "$1" | head -c "$reloc_size"
}

# relocation_entries IMAGE: the file offset of every entry that moves a word.
relocation_entries() {
  relocation_table "$1"
  local at=$reloc_at end=$((reloc_at + reloc_size)) block entry
  while [ "$at" -lt "$end" ]; do
    block=$(u32 "$1" $((at + 4)))
    for ((entry = at + 8; entry < at + block; entry += 2)); do
      [ $(($(u16 "$1" $entry) >> 12)) = 0 ] || echo $entry
    done
    at=$((at + block))
  done
}

# rename_import IMAGE NAME: makes IMAGE import from NAME.dll what it imports
# from KERNEL32.dll; NAME is eight characters, as KERNEL32 is, and the name
# must stand in the image once.
rename_import() {
  local at
  at=$(grep -obUaP 'KERNEL32\.dll\x00' "$1" | cut -d: -f1)
  [ -n "$at" ] && [ "$(wc -w <<<"$at")" = 1 ] && [ ${#2} = 8 ] || {
    echo "$1 doesn't name KERNEL32.dll once, or $2 isn't eight characters"
    return 1
  }
  printf '%s.dll' "$2" | dd of="$1" bs=1 seek="$at" conv=notrunc status=none
}
