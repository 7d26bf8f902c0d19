#!/bin/bash
# Checks the release Tempvaro.exe: 32-bit, GUI subsystem, for Windows 7 or later, at most 64 KiB, and importing only
# Known DLLs.
# A Known DLL always comes from the system folder; any other imported DLL would be looked for beside the program
# first (often Downloads), where a planted copy would run elevated before the program's own code.
set -eu
exe=${1:-build/windows-x86/Tempvaro.exe}
dump=$(i686-w64-mingw32-objdump -p "$exe")
fail=0
grep -q '^Magic[[:space:]]*010b' <<<"$dump" || { echo "check_release: $exe is not a 32-bit image"; fail=1; }
grep -q '^Subsystem[[:space:]]*00000002' <<<"$dump" || { echo "check_release: $exe is not a GUI program"; fail=1; }
for field in MajorSubsystemVersion MajorOSystemVersion; do
    grep -qE "^$field[[:space:]]+6$" <<<"$dump" || { echo "check_release: $exe: $field is not 6"; fail=1; }
done
for field in MinorSubsystemVersion MinorOSystemVersion; do
    grep -qE "^$field[[:space:]]+1$" <<<"$dump" || { echo "check_release: $exe: $field is not 1"; fail=1; }
done
# Known DLLs on every Windows from 7 to 11 (32-bit and WOW64 alike).
known_dlls='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|ws2_32|msvcrt)\.dll$'
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump")
while read -r dll; do
    if ! grep -qiE "$known_dlls" <<<"$dll"; then
        echo "check_release: $exe imports $dll, which is not a Known DLL"
        fail=1
    fi
done <<<"$imports"
# The time servers' names are assembled at run time and never stand in the program as text.
if strings -a "$exe" | grep -qi 'nist\.gov'; then
    echo "check_release: $exe holds a time server's name as text"
    fail=1
fi
size=$(stat -c %s "$exe")
# Small enough to fetch over a poor link and to read at a glance: 64 KiB at most.
if [ "$size" -gt $((64 * 1024)) ]; then
    echo "check_release: $exe has grown past 64 KiB"
    fail=1
fi
echo "check_release: $exe: $size bytes ($((size / 1024)) KiB), imports: $(tr '\n' ' ' <<<"$imports")"
exit $fail
