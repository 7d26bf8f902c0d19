#!/bin/bash
# Runs one command in a private network and mount namespace: loopback only, the servers' names mapped to loopback
# addresses, and a wineserver of its own (sockets are made by the wineserver, so it must live in the namespace).
# A .exe is run under wine64; anything else is run as it is.
set -u
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${TEMPVARO_ISOLATED:-}" ]; then
    exec unshare --mount --net -- env TEMPVARO_ISOLATED=1 "$0" "$@"
fi
ip link set lo up
mount --bind "$here/hosts" /etc/hosts
source "$here/wine_env.sh"
"$here/prepare_prefix.sh" || exit 1
"$WINESERVER" -k 2>/dev/null
xvfb_pid=
case "$1" in
*.exe)
    # Windows tests may create windows: give them a virtual display of their own.
    display=:$((200 + $$ % 300))
    Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
    DISPLAY=$display "$WINE" "$@"
    ;;
*) "$@" ;;
esac
rc=$?
"$WINESERVER" -k 2>/dev/null
"$WINESERVER" -w 2>/dev/null
[ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
exit $rc
