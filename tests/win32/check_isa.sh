#!/usr/bin/env bash
# Every instruction in the image's code is one the 80386 has: nothing the 486
# or later added (bswap, xadd, cmpxchg, cpuid, rdtsc, cmov, the long nops,
# endbr32, ud2), and no x87, MMX or SSE register. objdump names each
# instruction; the 386's are listed here by name. The filter is first shown
# to turn away one of each kind of newer instruction.
#
#   check_isa.sh IMAGE
set -u
image=$1

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

failures=0
for newer in 'cmovne %ecx,%eax' 'bswap %eax' 'xadd %eax,(%ecx)' 'cmpxchg %ecx,(%edx)' 'cpuid' \
  'rdtsc' 'nopw 0x0(%eax,%eax,1)' 'nopl 0x0(%eax)' 'endbr32' 'ud2' 'fldz' 'fistpl (%eax)' \
  'movd %eax,%mm0' 'pxor %xmm0,%xmm0' 'lock cmpxchg8b (%esi)' 'rep bswap %eax' '(bad)'; do
  if [ -z "$(printf '  401000:\t%s\n' "$newer" | foreign)" ]; then
    echo "FAILED: the check would let '$newer' through"
    failures=$((failures + 1))
  fi
done

listing=$(objdump -d --no-show-raw-insn "$image") || exit 1
count=$(grep -cE '^ +[0-9a-f]+:'$'\t' <<<"$listing")
outside=$(foreign <<<"$listing")
if [ -n "$outside" ]; then
  echo "FAILED: not 80386 instructions:"
  echo "$outside"
  failures=$((failures + 1))
fi
echo "$image: $count instructions, $(foreign <<<"$listing" | grep -c .) outside the 80386's set:" \
  "$(awk -F'\t' '/^ +[0-9a-f]+:\t/ { split($NF, w, / +/); print w[1] }' <<<"$listing" | sort -u | tr '\n' ' ')"
[ "$failures" = 0 ]
