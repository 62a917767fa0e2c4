#!/bin/sh
# Every test of both builds, from a fresh machine: the native tests, then the
# Windows tests under Wine on a private virtual X display.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build-all.sh
status=0
ctest --preset linux || status=1
xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" ctest --preset windows || status=1
exit $status
