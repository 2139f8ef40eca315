#!/usr/bin/env bash
# fold_relocs turns away what it can't fold faithfully, with a message and no
# output, and its layout check turns away images a loader would refuse.
#
#   check_fold_relocs.sh FOLD_RELOCS LINKED.exe
set -u
fold=$1 linked=$2
. "$(dirname "$0")/pe.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
checks=0 failures=0

# Damages to the linker's image, each a field or two.
renamed() { # the .reloc section no longer last: .rdata and .reloc swap names
  printf '.reloc\0\0' | dd of="$1" bs=1 seek=$((table + 40)) conv=notrunc status=none
  printf '.rdata\0\0' | dd of="$1" bs=1 seek=$((table + 3 * 40)) conv=notrunc status=none
}
debug() { put32 "$1" $((optional + 96 + 6 * 8 + 4)) 28; }
signed() { put32 "$1" $((optional + 96 + 4 * 8 + 4)) 1024; }
huge_rdata() { put32 "$1" $((table + 40 + 8)) 4294967280; }
cut_short() { truncate -s 300 "$1"; }
# Damages to a folded image, for the layout check.
image_size() { put32 "$1" $((optional + 56)) $(($(u32 "$1" $((optional + 56))) + 4096)); }
headers_size() { put32 "$1" $((optional + 60)) 1024; }
past_the_end() { put32 "$1" $((table + 40 + 20)) 4096; }
gap() { put32 "$1" $((table + 40 + 12)) $(($(u32 "$1" $((table + 40 + 12))) + 4096)); }
stray_directory() { put32 "$1" $((optional + 96 + 1 * 8)) 65536; }

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

#      mode   damage           message
expect fold   renamed          '.reloc is not the last section'
expect fold   debug            'debug directory'
expect fold   signed           'certificate table'
expect fold   huge_rdata       'overflows 32 bits'
expect fold   cut_short        'cut short'
expect check  image_size       'SizeOfImage'
expect check  headers_size     'SizeOfHeaders'
expect check  past_the_end     'runs past the file'
expect check  gap              "doesn't follow"
expect check  stray_directory  'not inside a section'
checks=$((checks + 1))
"$fold" "$work/missing.exe" "$work/out.exe" 2>/dev/null && failures=$((failures + 1))

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" = 0 ]
