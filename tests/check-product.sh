#!/usr/bin/env bash
# Checks each setup.exe given: its import table names only Windows system
# DLLs that the program may use. The shipped one (i686) must stay within
# 40 KB and its code, between the link map's __code_start__ and
# __code_end__, must hold no instruction beyond the 386: a Pentium, a K6 or
# a 486 stops at the first one with an invalid-opcode fault. Only the code
# is disassembled: the imports and the texts that share its section decode
# as nonsense instructions. Prints the size and imports of each file.
set -u
# winmm and setupapi are loaded from the system directory when
# needed, never imported: an import would be searched for beside the program
# first.
allowed=" kernel32.dll user32.dll advapi32.dll ole32.dll "
# P6 (cmov...), Pentium (cpuid, rdtsc...), 486 (bswap, xadd, cmpxchg...),
# the long NOP, MMX/SSE registers and what does not decode at all.
beyond386='^(f?cmov|fu?comi|bswap|xadd|cmpxchg|cpuid|rdtsc|rdpmc|rdmsr|wrmsr|invd|wbinvd|invlpg|rsm|ud[0-2]|sys(enter|exit|call|ret)|prefetch|[lms]fence|clflush|movnti|nop[wl]|\(bad\))|%[xy]?mm'
status=0
fail() { echo "FAIL: $*"; status=1; }
check_processor() {
    local exe=$1 map range found
    map=$(dirname "$exe")/setup.map
    range=$(awk '$2 == "__code_start__" { s = $1 } $2 == "__code_end__" { e = $1 } END { if (s && e) print s, e }' "$map" 2>/dev/null)
    [ -n "$range" ] || { fail "$map gives no code range"; return; }
    set -- $range
    found=$(i686-w64-mingw32-objdump -d --no-show-raw-insn --start-address="$1" --stop-address="$2" "$exe" |
        awk -F'\t' 'NF >= 2 { print $2 }' | grep -E "$beyond386" | sort | uniq -c)
    [ -z "$found" ] || fail "$exe holds instructions beyond the 386:"$'\n'"$found"
}
for exe in "$@"; do
    if [ ! -f "$exe" ]; then
        fail "$exe is missing (build the i686 and x86_64 presets first)"
        continue
    fi
    dlls=$(objdump -p "$exe" | awk '/DLL Name:/ {print tolower($3)}' | sort -u)
    for dll in $dlls; do
        case "$allowed" in
        *" $dll "*) ;;
        *) fail "$exe imports $dll" ;;
        esac
    done
    size=$(stat -c %s "$exe")
    case "$exe" in
    *i686*)
        [ "$size" -le 40960 ] || fail "$exe is $size bytes, more than 40 KB"
        check_processor "$exe"
        ;;
    esac
    echo "$(basename "$(dirname "$exe")")/$(basename "$exe"): $size bytes, imports: $(echo $dlls)"
done
exit $status
