#!/usr/bin/env bash
# fold_relocs turns away what it can't fold faithfully, with a message and no
# output, and its layout check turns away images a loader would refuse: each
# rule by a damaged image that breaks that rule and, if the damage is
# honest, no rule checked before it. Run on each format's image, PE32 and
# PE32+.
#
#   check_fold_relocs.sh FOLD_RELOCS LINKED.exe
set -u
fold=$1 linked=$2
. "$(dirname "$0")/pe.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
checks=0 failures=0
section() { echo $((table + $1 * 40 + $2)); } # section(INDEX, FIELD OFFSET)
add32() { put32 "$1" "$2" $(($(u32 "$1" "$2") + $3)); }

# Damages to the linker's image, for folding: it has .text, .rdata, .data
# and .reloc, in that order.
renamed() { # .rdata and .reloc swap names: .reloc is no longer last
  printf '.reloc\0\0' | dd of="$1" bs=1 seek="$(section 1 0)" conv=notrunc status=none
  printf '.rdata\0\0' | dd of="$1" bs=1 seek="$(section 3 0)" conv=notrunc status=none
}
debug() { put32 "$1" $((directories + 6 * 8 + 4)) 28; }
signed() { put32 "$1" $((directories + 4 * 8 + 4)) 1024; }
huge_rdata() { put32 "$1" "$(section 1 8)" 4294967293; }
writable_rdata() { put32 "$1" "$(section 1 36)" $(($(u32 "$1" "$(section 1 36)") | 0x80000000)); }
symbols() { put32 "$1" $((file + 8)) 4096; }
cut_short() { truncate -s 300 "$1"; }
# Damages to a folded image, for the layout check: .text, .rdata (with the
# relocations at its end) and .data, which has no bytes in the file.
not_mz() { printf 'XY' | dd of="$1" bs=1 conv=notrunc status=none; }
not_pe() { put32 "$1" $((file - 4)) 0; }
other_magic() { put16 "$1" "$optional" 0x107; }
small_alignment() { put32 "$1" $((optional + 36)) 256; }
small_section_alignment() { put32 "$1" $((optional + 32)) 256; }
short_optional() { put16 "$1" $((file + 16)) 96; }
headers_size() { put32 "$1" $((optional + 60)) 1024; }
gap() { add32 "$1" "$(section 1 12)" 4096; }
raw_unaligned() { add32 "$1" "$(section 1 20)" 16; }
raw_size_unaligned() { add32 "$1" "$(section 1 16)" -16; }
raw_overlap() { put32 "$1" "$(section 1 20)" "$(u32 "$1" "$(section 0 20)")"; }
past_the_end() { put32 "$1" "$(section 1 20)" 4096; }
image_size() { add32 "$1" $((optional + 56)) 4096; }
trailing_bytes() { head -c 512 /dev/zero >>"$1"; }
stray_directory() { put32 "$1" $((directories + 1 * 8)) 65536; }
# The import directory one byte past the end of .rdata, which holds it, or
# starting one byte before it.
directory_past_end() {
  put32 "$1" $((directories + 1 * 8 + 4)) \
    $(($(u32 "$1" "$(section 1 12)") + $(u32 "$1" "$(section 1 8)") + 1 - $(u32 "$1" $((directories + 8)))))
}
directory_before_start() {
  put32 "$1" $((directories + 1 * 8)) $(($(u32 "$1" "$(section 1 12)") - 1))
  put32 "$1" $((directories + 1 * 8 + 4)) 2
}
stray_entry() { put32 "$1" $((optional + 16)) 16; }
block_size() { # the table one block, two bytes short of whole words
  relocation_table "$1" || return
  local size=$(($(u32 "$1" $((reloc_at + 4))) - 2))
  put32 "$1" $((reloc_at + 4)) $size
  put32 "$1" $((directories + 5 * 8 + 4)) $size
}
block_past_table() { relocation_table "$1" && put32 "$1" $((reloc_at + 4)) $((reloc_size + 8)); }
other_kind() { # a relocation of kind 1, IMAGE_REL_BASED_HIGH, that neither format's code uses
  relocation_table "$1" && put16 "$1" $((reloc_at + 8)) $((0x1000 | ($(u16 "$1" $((reloc_at + 8))) & 0xFFF)))
}
outside_the_file() { relocation_table "$1" && put32 "$1" "$reloc_at" 0x9000; }

# expect MODE DAMAGE MESSAGE: fold_relocs must fail on the damaged image,
# saying MESSAGE, and leave no output behind.
expect() {
  local mode=$1 damage=$2 message=$3 image=$work/$2.exe out=$work/out.exe said
  checks=$((checks + 1))
  if [ "$mode" = fold ]; then cp "$linked" "$image"; else "$fold" "$linked" "$image"; fi
  headers "$image"
  "$damage" "$image"
  rm -f "$out"
  if [ "$mode" = fold ]; then
    said=$("$fold" "$image" "$out" 2>&1)
  else
    said=$("$fold" --check "$image" 2>&1)
  fi
  if [ $? = 0 ] || [[ $said != *"$message"* ]] || [ -e "$out" ]; then
    echo "FAILED: $mode after $damage: said \"$said\""
    failures=$((failures + 1))
  fi
}

#      mode   damage              message
expect fold   renamed             '.reloc is not the last section'
expect fold   debug               'debug directory'
expect fold   signed              'certificate table'
expect fold   huge_rdata          'overflows 32 bits'
expect fold   writable_rdata      'the target section is writable'
expect fold   symbols             'symbol table'
expect fold   cut_short           'cut short'
expect check  not_mz              'not an MZ image'
expect check  not_pe              'not a PE image'
expect check  other_magic         'neither a PE32 nor a PE32+ image'
expect check  small_alignment     'alignment is not one a loader takes'
expect check  small_section_alignment 'alignment is not one a loader takes'
expect check  short_optional      "headers don't hold together"
expect check  headers_size        'SizeOfHeaders'
expect check  gap                 "doesn't follow the one before it"
expect check  raw_unaligned       "doesn't start on the file alignment"
expect check  raw_size_unaligned  'whole number of file-alignment blocks'
expect check  raw_overlap         'overlaps the headers or the section before it'
expect check  past_the_end        'runs past the file'
expect check  image_size          'SizeOfImage'
expect check  trailing_bytes      'bytes that no section owns'
expect check  stray_directory     'data directory 1 is not inside a section'
expect check  directory_past_end  'data directory 1 is not inside a section'
expect check  directory_before_start 'data directory 1 is not inside a section'
expect check  stray_entry         'entry point is not inside a section'
expect check  block_size          "relocation block's size is not a whole number of words"
expect check  block_past_table    'runs past the relocation table'
expect check  other_kind          "a relocation of a kind"
expect check  outside_the_file    'an address has no bytes in the file'
checks=$((checks + 1))
"$fold" "$work/missing.exe" "$work/out.exe" 2>/dev/null && failures=$((failures + 1))
# The folded image itself passes every rule.
checks=$((checks + 1))
"$fold" "$linked" "$work/folded.exe" && "$fold" --check "$work/folded.exe" || failures=$((failures + 1))

headers "$linked"
echo "$([ "$magic" = 523 ] && echo PE32+ || echo PE32): $((checks - failures)) passed, $failures failed"
[ "$failures" = 0 ]
