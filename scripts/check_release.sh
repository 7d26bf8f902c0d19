#!/bin/bash
# Checks the release Tempvaro.exe: 32-bit, GUI subsystem, and importing only libraries every Windows has.
set -eu
exe=${1:-build/windows-x86/Tempvaro.exe}
dump=$(i686-w64-mingw32-objdump -p "$exe")
fail=0
grep -q '^Magic[[:space:]]*010b' <<<"$dump" || { echo "check_release: $exe is not a 32-bit image"; fail=1; }
grep -q '^Subsystem[[:space:]]*00000002' <<<"$dump" || { echo "check_release: $exe is not a GUI program"; fail=1; }
system_dlls='^(kernel32|user32|gdi32|comctl32|ws2_32|advapi32|shell32|shlwapi|ole32|oleaut32|wintrust|crypt32|msvcrt)\.dll$'
while read -r dll; do
    if ! grep -qiE "$system_dlls" <<<"$dll"; then
        echo "check_release: $exe imports $dll, which is not a Windows system library"
        fail=1
    fi
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump")
size=$(stat -c %s "$exe")
echo "check_release: $exe: $size bytes ($((size / 1024)) KiB), imports: $(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | tr '\n' ' ')"
exit $fail
