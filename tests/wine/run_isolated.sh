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
case "$1" in
*.exe) "$WINE" "$@" ;;
*) "$@" ;;
esac
rc=$?
"$WINESERVER" -k 2>/dev/null
"$WINESERVER" -w 2>/dev/null
exit $rc
