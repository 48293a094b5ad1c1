#!/usr/bin/env bash
# Checks the import table of each setup.exe given: only Windows system DLLs
# that the program may use. Prints the size of each file; the shipped one
# (i686) must stay within 32 KB.
set -u
# winmm and setupapi are loaded from the system directory when needed, never
# imported: an import would be searched for beside the program first.
allowed=" kernel32.dll user32.dll advapi32.dll ole32.dll "
status=0
for exe in "$@"; do
    if [ ! -f "$exe" ]; then
        echo "FAIL: $exe is missing (build the i686 and x86_64 presets first)"
        status=1
        continue
    fi
    dlls=$(objdump -p "$exe" | awk '/DLL Name:/ {print tolower($3)}' | sort -u)
    for dll in $dlls; do
        case "$allowed" in
        *" $dll "*) ;;
        *) echo "FAIL: $exe imports $dll"; status=1 ;;
        esac
    done
    size=$(stat -c %s "$exe")
    case "$exe" in
    *i686*) [ "$size" -le 32768 ] || { echo "FAIL: $exe is $size bytes, more than 32 KB"; status=1; } ;;
    esac
    echo "$(basename "$(dirname "$exe")")/$(basename "$exe"): $size bytes, imports: $(echo $dlls)"
done
exit $status
