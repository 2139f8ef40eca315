#!/usr/bin/env bash
# Checks that showfile.exe is what it claims to be: a small console program,
# PE32 or PE32+, importing the ten kernel32 operations and nothing else, with
# ASLR and DEP on, large-address-aware, without link time, unwind tables or a
# section both writable and executable, laid out as a loader takes it; and
# that what a loader maps of it is what the linker made in LINKED.exe, less
# .reloc, whose table follows .rdata's contents on the next 4-byte boundary.
# VERSION (4.0, say) is the least Windows it must declare as both its OS and
# subsystem version: an older loader refuses it, which Wine doesn't show.
#
#   check_image.sh showfile.exe MAX-BYTES LINKED.exe FOLD_RELOCS VERSION BITS
set -u
exe=$1 limit=$2 linked=$3 fold=$4 version=$5 bits=$6
failures=0
size=$(stat -c %s "$exe")
[ "$size" -le "$limit" ] || { echo "FAILED: $size bytes, more than $limit" && failures=1; }
"$fold" --check "$exe" || { echo "FAILED: the layout breaks a loader's rules" && failures=1; }
if [ "$bits" = 64 ]; then
  machine=IMAGE_FILE_MACHINE_AMD64 magic=OPTIONAL_HEADER_MAGIC_PE_PLUS
else
  machine=IMAGE_FILE_MACHINE_I386 magic=OPTIONAL_HEADER_MAGIC_PE
fi
imports="CloseHandle CreateFileA ExitProcess GetFileSize GetProcessHeap GetStdHandle HeapAlloc"
imports+=" HeapFree ReadFile WriteFile"
# One condition a line (a backslash joins two), by pefile's names (pe.py
# tells them), and after "  # " what it means; the linker's image is linked.
reloc="b'.reloc\0\0'" rdata="section['.rdata']"
/usr/bin/python3 "$(dirname "$0")/pe.py" check "$exe" linked="$linked" <<EOF || failures=1
FILE_HEADER.Machine == $machine and OPTIONAL_HEADER.Magic == $magic  # the machine and format for $bits bits
not FILE_HEADER.Characteristics & IMAGE_FILE_RELOCS_STRIPPED  # relocations kept
FILE_HEADER.Characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE  # large-address-aware
FILE_HEADER.TimeDateStamp == 0  # no link time
OPTIONAL_HEADER.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_CUI  # a console program
'%d.%d' % (OPTIONAL_HEADER.MajorOperatingSystemVersion, \
  OPTIONAL_HEADER.MinorOperatingSystemVersion) == '$version'  # OS version $version
'%d.%d' % (OPTIONAL_HEADER.MajorSubsystemVersion, \
  OPTIONAL_HEADER.MinorSubsystemVersion) == '$version'  # subsystem version $version
OPTIONAL_HEADER.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE  # ASLR
OPTIONAL_HEADER.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_NX_COMPAT  # DEP
$bits == 32 or \
  OPTIONAL_HEADER.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA  # high-entropy ASLR
EXCEPTION.Size == 0  # no unwind tables (.pdata)
not any(s.Characteristics & IMAGE_SCN_MEM_WRITE and s.Characteristics & IMAGE_SCN_MEM_EXECUTE \
  for s in sections)  # no section both writable and executable
[(e.dll, sorted(i.name.decode() for i in e.imports)) for e in DIRECTORY_ENTRY_IMPORT] == \
  [(b'KERNEL32.dll', '$imports'.split())]  # the ten kernel32 imports, no others
OPTIONAL_HEADER.FileAlignment == 512  # whole 512-byte blocks
OPTIONAL_HEADER.CheckSum == 0  # no checksum to go stale
OPTIONAL_HEADER.SizeOfCode == \
  sum(s.SizeOfRawData for s in sections if s.Characteristics & IMAGE_SCN_CNT_CODE) \
  # SizeOfCode sums the code sections
OPTIONAL_HEADER.SizeOfInitializedData == \
  sum(s.SizeOfRawData for s in sections if s.Characteristics & IMAGE_SCN_CNT_INITIALIZED_DATA) \
  # SizeOfInitializedData sums the initialized data sections
[(s.Name, s.VirtualAddress, s.Characteristics) for s in sections] == \
  [(s.Name, s.VirtualAddress, s.Characteristics) for s in linked.sections if s.Name != $reloc] \
  # the linker's sections but .reloc, at its addresses, with its flags
all(mapped(s.VirtualAddress, s.Misc_VirtualSize) == linked.mapped(s.VirtualAddress, s.Misc_VirtualSize) \
  for s in linked.sections if s.Name != $reloc)  # each holding the linker's bytes
all(section[name].Misc_VirtualSize == s.Misc_VirtualSize \
  for name, s in linked.section.items() if name not in ('.rdata', '.reloc'))  # all but .rdata their size
BASERELOC.Size > 0 and mapped(BASERELOC.VirtualAddress, BASERELOC.Size) == \
  linked.mapped(linked.BASERELOC.VirtualAddress, linked.BASERELOC.Size)  # the relocations, the linker's
BASERELOC.VirtualAddress == $rdata.VirtualAddress + (linked.$rdata.Misc_VirtualSize + 3) // 4 * 4 \
  # the relocation table on the first 4-byte boundary after .rdata's contents
BASERELOC.VirtualAddress + BASERELOC.Size == $rdata.VirtualAddress + $rdata.Misc_VirtualSize \
  # the relocation table ending .rdata
EOF
echo "$exe: $size bytes"
[ "$failures" = 0 ]
