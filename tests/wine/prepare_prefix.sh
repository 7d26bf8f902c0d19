#!/bin/bash
# Creates the Wine prefix the tests share, once: boots it and maps the dialogs' Song fonts to an installed Song face.
set -eu
source "$(dirname "$0")/wine_env.sh"
# With 32-bit Wine installed the prefix must hold the 32-bit system too; one made before it was installed does not,
# and Wine does not add it later, so such a prefix of ours is made anew.
has_32bit_system() {
    [ ! -e "$WINE32_NTDLL" ] ||
        [ -e "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]
}
[ -f "$WINEPREFIX/.tempvaro-ready" ] && has_32bit_system && exit 0
if compgen -G "$WINEPREFIX/.tempvaro-ready*" >/dev/null && ! has_32bit_system; then
    rm -rf "$WINEPREFIX"
fi
mkdir -p "$WINEPREFIX"
"$WINE" wineboot -i >/dev/null 2>&1 || true
for face in 新宋体 宋体 NSimSun SimSun; do
    "$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d "AR PL UMing CN" /f >/dev/null 2>&1
done
"$WINESERVER" -w
touch "$WINEPREFIX/.tempvaro-ready"
