#!/bin/sh
# Starts or stops the Wine server that the Windows tests share.
#   wine-session.sh start|stop PREFIX
# The server and Wine's helper processes get /dev/null for every descriptor,
# so none of them keeps a test runner's pipe open after the tests end.
set -u
action=$1
export WINEPREFIX=$2 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver
case $action in
start)
    mkdir -p "$WINEPREFIX"
    "$server" -p </dev/null >/dev/null 2>&1
    "$wine" wineboot -i </dev/null >/dev/null 2>&1
    # Top-level windows close at once under a bare X server.
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1
    exit 0
    ;;
stop)
    "$server" -k </dev/null >/dev/null 2>&1
    "$server" -w </dev/null >/dev/null 2>&1
    exit 0
    ;;
esac
echo "usage: wine-session.sh start|stop PREFIX" >&2
exit 2
