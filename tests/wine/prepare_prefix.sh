#!/bin/bash
# Creates the Wine prefix the tests share, once: boots it and maps the dialogs' Song fonts to an installed Song face.
set -eu
source "$(dirname "$0")/wine_env.sh"
[ -f "$WINEPREFIX/.tempvaro-ready-wow64" ] && exit 0
mkdir -p "$WINEPREFIX"
"$WINE" wineboot -i >/dev/null 2>&1 || true
for face in 新宋体 宋体 NSimSun SimSun; do
    "$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d "AR PL UMing CN" /f >/dev/null 2>&1
done
"$WINESERVER" -w
touch "$WINEPREFIX/.tempvaro-ready-wow64"
