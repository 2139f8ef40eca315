#!/usr/bin/env bash
# fold_relocs turns away what it can't fold faithfully, with a message and no
# output, and its layout check turns away images a loader would refuse: each
# rule by a damaged image (PE32 or PE32+) that breaks it and none before it.
#
#   check_fold_relocs.sh FOLD_RELOCS LINKED.exe
set -u
fold=$1 linked=$2
pe=$(dirname "$0")/pe.py
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
checks=0 failures=0

# The undamaged image folds, and what it folds to passes every rule, or no
# damage below would prove anything.
if ! "$fold" "$linked" "$work/folded.exe" || ! "$fold" --check "$work/folded.exe"; then
  echo "FAILED: the linker's image doesn't fold into one that passes"
  exit 1
fi

# expect MODE MESSAGE DAMAGE: fold_relocs must fail on the damaged image,
# saying MESSAGE, and leave no output behind. MODE fold damages the linker's
# image (.text, .rdata, .data and .reloc) and folds it; check damages the
# folded one (.text, .rdata with the relocations at its end, and .data,
# which has no bytes in the file) and checks its layout. DAMAGE is pefile
# statements (pe.py names what they see), or a truncate command.
expect() {
  local mode=$1 message=$2 damage=$3 image=$work/damaged.exe out=$work/out.exe said
  checks=$((checks + 1))
  if [ "$mode" = fold ]; then cp "$linked" "$image"; else cp "$work/folded.exe" "$image"; fi
  case $damage in
  truncate*) $damage "$image" ;;
  *) /usr/bin/python3 "$pe" set "$image" "$damage" ;;
  esac || { echo "FAILED: $damage: couldn't damage the image" && failures=$((failures + 1)) && return; }
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
rdata="section['.rdata']" block=DIRECTORY_ENTRY_BASERELOC[0] outside='is not inside a section'

#      mode  message                                damage
expect fold  '.reloc is not the last section'       "$rdata.Name = b'.reloc'; section['.reloc'].Name = b'.rdata'"
expect fold  'debug directory'                      'DEBUG.Size = 28'
expect fold  'certificate table'                    'SECURITY.Size = 1024'
expect fold  'overflows 32 bits'                    "$rdata.Misc_VirtualSize = 0xFFFFFFFD"
expect fold  'the target section is writable'       "$rdata.Characteristics |= IMAGE_SCN_MEM_WRITE"
expect fold  'symbol table'                         'FILE_HEADER.PointerToSymbolTable = 4096'
expect fold  'cut short'                            'truncate -s 300'
expect fold  'a section runs past the end of the file' "$rdata.PointerToRawData = 0x100000"
expect fold  'no .reloc section'                    "section['.reloc'].Name = b'.relox'"
expect fold  'directory is not the .reloc section'  'BASERELOC.VirtualAddress += 4'
# .rdata's contents up to 2 bytes short of its last page: the relocations
# would reach into .data's addresses.
expect fold  'no room for the relocations'          "$rdata.Misc_VirtualSize = OPTIONAL_HEADER.SectionAlignment - 2"
expect check 'not an MZ image'                      'DOS_HEADER.e_magic = 0x5958'
expect check 'not a PE image'                       'NT_HEADERS.Signature = 0'
expect check 'neither a PE32 nor a PE32+ image'     'OPTIONAL_HEADER.Magic = 0x107'
expect check 'alignment is not one a loader takes'  'OPTIONAL_HEADER.FileAlignment = 256'
expect check 'alignment is not one a loader takes'  'OPTIONAL_HEADER.SectionAlignment = 256'
expect check "headers don't hold together"          'FILE_HEADER.SizeOfOptionalHeader = 96'
expect check 'SizeOfHeaders'                        'OPTIONAL_HEADER.SizeOfHeaders = 1024'
expect check "doesn't follow the one before it"     "$rdata.VirtualAddress += 4096"
expect check "doesn't start on the file alignment"  "$rdata.PointerToRawData += 16"
expect check 'whole number of file-alignment blocks' "$rdata.SizeOfRawData -= 16"
expect check 'overlaps the headers or the section before it' \
  "$rdata.PointerToRawData = section['.text'].PointerToRawData"
expect check 'runs past the file'                   "$rdata.PointerToRawData = 4096"
expect check 'SizeOfImage'                          'OPTIONAL_HEADER.SizeOfImage += 4096'
expect check 'bytes that no section owns'           'truncate -s +512'
expect check "data directory 1 $outside"            'IMPORT.VirtualAddress = 65536'
# The import directory one byte past the end of .rdata, which holds it, or
# starting one byte before it.
expect check "data directory 1 $outside" \
  "IMPORT.Size = $rdata.VirtualAddress + $rdata.Misc_VirtualSize + 1 - IMPORT.VirtualAddress"
expect check "data directory 1 $outside"            "IMPORT.VirtualAddress = $rdata.VirtualAddress - 1; IMPORT.Size = 2"
expect check "entry point $outside"                 'OPTIONAL_HEADER.AddressOfEntryPoint = 16'
# The table one block, two bytes short of whole words.
expect check "block's size is not a whole number of words" \
  "$block.struct.SizeOfBlock -= 2; BASERELOC.Size = $block.struct.SizeOfBlock"
expect check 'runs past the relocation table'       "$block.struct.SizeOfBlock = BASERELOC.Size + 8"
# A relocation of a kind that neither format's code uses.
expect check 'a relocation of a kind'               "$block.entries[0].type = IMAGE_REL_BASED_HIGH"
expect check 'an address has no bytes in the file'  "$block.struct.VirtualAddress = 0x9000"
checks=$((checks + 1))
"$fold" "$work/missing.exe" "$work/out.exe" 2>/dev/null && failures=$((failures + 1))

echo "$linked: $((checks - failures)) passed, $failures failed"
[ "$failures" = 0 ]
