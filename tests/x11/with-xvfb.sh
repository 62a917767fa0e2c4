#!/bin/sh
# Runs a command on a virtual X display of its own, so that the editor's
# X11 tests need no display from whoever runs them (CI has none) and two
# runs never share one:
#   with-xvfb.sh COMMAND [ARGUMENTS...]
# The server picks a free display number itself (-displayfd); it gets
# /dev/null for its output, so it holds no test runner's pipe open. It
# does not reset when its last client goes (-noreset): a reset between
# two tests refuses the next test's connection.
set -u
work=$(mktemp -d "${TMPDIR:-/tmp}/z5r-xvfb.XXXXXX") || exit 1
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$work/display" </dev/null >/dev/null 2>&1 &
server=$!
number=""
tries=0
while [ -z "$number" ] && [ $tries -lt 200 ]; do
    if ! kill -0 $server 2>/dev/null; then
        echo "with-xvfb.sh: Xvfb did not start" >&2
        rm -rf "$work"
        exit 1
    fi
    number=$(cat "$work/display" 2>/dev/null)
    [ -n "$number" ] || sleep 0.05
    tries=$((tries + 1))
done
if [ -z "$number" ]; then
    echo "with-xvfb.sh: Xvfb gave no display number" >&2
    kill $server 2>/dev/null
    rm -rf "$work"
    exit 1
fi
DISPLAY=":$number" "$@"
status=$?
kill $server 2>/dev/null
wait $server 2>/dev/null
rm -rf "$work"
exit $status
