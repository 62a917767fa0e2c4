#!/bin/sh
# Refreshes the pictures of the editor in docs/: editor.png and
# editor-about.png from the Windows build (under Wine on a virtual X
# display), editor-linux.png from the Linux build (on a virtual X display
# of its own); audio flows through the plug-in, so the scope shows traces.
set -eu
cd "$(dirname "$0")/.."
cmake --build --preset windows --target z5r-editor-snapshot
cmake --build --preset linux --target z5r-editor-snapshot-x11
mkdir -p docs
# Wine must start inside the virtual display to make windows there.
xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" sh -c '
    prefix="$PWD/build/windows/wineprefix"
    tools/wine-session.sh start "$prefix"
    status=0
    WINEPREFIX="$prefix" WINEDEBUG=-all /usr/lib/wine/wine64 build/windows/z5r-editor-snapshot.exe \
        build/windows/KorvaneZ5R.dll docs/editor.png docs/editor-about.png </dev/null || status=$?
    tools/wine-session.sh stop "$prefix"
    exit $status'
tests/x11/with-xvfb.sh build/linux/z5r-editor-snapshot-x11 build/linux/KorvaneZ5R.so docs/editor-linux.png
