#!/usr/bin/env bash
# Every instruction in the image's code is one the 80386 has (objdump names
# them; the 386's are listed here): nothing the 486 or later added, and no
# x87, MMX or SSE register. The check first runs, whole, on machine code of
# each newer kind, each of which it must turn away.
#
#   check_isa.sh IMAGE
#   check_isa.sh --raw FILE    the same check on FILE's bytes as i386 code
set -u

# The 386's instructions as objdump names them (AT&T), a size suffix left
# off; conditional jumps and sets by their conditions.
cc='(o|no|b|nb|c|nc|ae|nae|e|z|ne|nz|be|nbe|a|na|s|ns|p|np|pe|po|l|nl|ge|nge|le|nle|g|ng)'
i386="aaa|aad|aam|aas|adc|add|and|arpl|bound|bsf|bsr|bt|btc|btr|bts|call|lcall|cbtw|cwtl|cwtd|\
cltd|clc|cld|cli|clts|cmc|cmp|cmps|daa|das|dec|div|enter|hlt|idiv|imul|in|inc|ins|int|int3|into|\
iret|j$cc|jcxz|jecxz|jmp|ljmp|lahf|lar|lds|lea|leave|les|lfs|lgdt|lgs|lidt|lldt|lmsw|lods|loop|\
loope|loopne|lsl|lss|ltr|mov|movs|movs[bw][wl]|movz[bw][wl]|mul|neg|not|or|out|outs|pop|popa|\
popf|push|pusha|pushf|rcl|rcr|ret|lret|rol|ror|sahf|sal|sar|sbb|scas|set$cc|sgdt|shl|shld|shr|\
shrd|sidt|sldt|smsw|stc|std|sti|stos|str|sub|test|verr|verw|xchg|xlat|xor"
prefixes='rep|repz|repnz|repe|repne|lock|data16|addr16|cs|ds|es|fs|gs|ss'

# foreign: of objdump's disassembly lines on stdin, prints those with an
# instruction or a register the 386 doesn't have.
foreign() {
  awk -F'\t' -v known="^($i386)[bwl]?\$" -v prefix="^($prefixes)\$" '
    /^ +[0-9a-f]+:\t/ {
      n = split($NF, word, / +/)
      for (i = 1; i < n && word[i] ~ prefix; i++) {}
      name = word[i]; operands = substr($NF, index($NF, name) + length(name))
      if (name == "nop" ? operands !~ /^ *$/ : name !~ known || operands ~ /%([xyz]?mm|st|k[0-7])/)
        print
    }'
}

if [ "$1" = --raw ]; then
  image=$2
  listing=$(objdump -D -b binary -m i386 --no-show-raw-insn "$image") || exit 2
else
  image=$1
  # One sample of each newer kind (kinds), as "KIND BYTES NAME": objdump
  # must call it NAME, and this whole script, verdict and all, must turn it
  # away. A sample that gets through ends the check at once.
  kinds=(cmov bswap xadd cmpxchg cpuid rdtsc movbe nop endbr32 ud2 x87 mmx sse)
  samples=("cmov 0f45c1 cmovne" "bswap 0fc8 bswap" "bswap f30fc8 bswap" "xadd 0fc101 xadd"
    "cmpxchg 0fb10a cmpxchg" "cmpxchg f00fc70e cmpxchg8b" "cpuid 0fa2 cpuid" "rdtsc 0f31 rdtsc"
    "movbe 0f38f101 movbe" "nop 660f1f440000 nopw" "nop 0f1f4000 nopl" "endbr32 f30f1efb endbr32"
    "ud2 0f0b ud2" "x87 d9ee fldz" "x87 df18 fistps" "mmx 0f6ec0 movd" "sse 660fefc0 pxor"
    "sse 0faef8 sfence" "sse c5f9efc0 vpxor" "bad 0f04 (bad)")
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  for kind in "${kinds[@]}"; do
    printf '%s\n' "${samples[@]}" | grep -q "^$kind " || { echo "FAILED: no sample of $kind"; exit 1; }
  done
  for sample in "${samples[@]}"; do
    read -r kind bytes name <<<"$sample"
    printf "$(sed 's/../\\x&/g' <<<"$bytes")" >"$work/sample"
    said=$(bash "$0" --raw "$work/sample")
    status=$?
    if [ $status = 0 ] || [[ $said != *"$name"* ]]; then
      echo "FAILED: the check lets $kind through ($bytes, exit code $status): $said"
      exit 1
    fi
  done
  listing=$(objdump -d --no-show-raw-insn "$image") || exit 2
fi

count=$(grep -cE '^ +[0-9a-f]+:'$'\t' <<<"$listing")
outside=$(foreign <<<"$listing")
[ -z "$outside" ] || printf 'FAILED: not 80386 instructions:\n%s\n' "$outside"
echo "$image: $count instructions, $(grep -c . <<<"$outside") outside the 80386's set:" \
  "$(awk -F'\t' '/^ +[0-9a-f]+:\t/ { split($NF, w, / +/); print w[1] }' <<<"$listing" | sort -u | tr '\n' ' ')"
[ -z "$outside" ]
