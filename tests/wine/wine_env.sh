# Environment for running the Windows builds under wine64; sourced by the test and run scripts.
TEMPVARO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export TEMPVARO_ROOT
export WINE=/usr/lib/wine/wine64
export WINESERVER=/usr/lib/wine/wineserver
# There once Debian's 32-bit Wine is installed.
WINE32_NTDLL=/usr/lib/i386-linux-gnu/wine/i386-windows/ntdll.dll
export WINEPREFIX="${TEMPVARO_WINEPREFIX:-$TEMPVARO_ROOT/build/wineprefix}"
# A test that reads the exact call from Wine's trace names its channels in TEMPVARO_WINEDEBUG.
export WINEDEBUG="${TEMPVARO_WINEDEBUG:--all}"
# No Mono or Gecko installer prompts: nothing here needs them, and nothing may be downloaded.
export WINEDLLOVERRIDES="mscoree,mshtml="
# A Chinese locale gives Windows programs code page 936; the machine is in UTC+8 unless a test names another zone.
export LANG=zh_CN.UTF-8
export LC_ALL=zh_CN.UTF-8
export TZ="${TEMPVARO_TZ:-Asia/Shanghai}"
