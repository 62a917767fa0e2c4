#!/bin/sh
# Every test of both builds, from a fresh machine: the native tests and the
# validator against the Linux plug-in, the Windows tests and the validator
# against the DLL under Wine on a private virtual X display, then the native
# tests and the validator (shorter grids) under AddressSanitizer with
# UndefinedBehaviorSanitizer and under ThreadSanitizer, and a minute of
# fuzzing from the committed corpus. Every step runs even when one before it
# failed; the exit status says whether all passed.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build-all.sh
status=0
failed=""
step() {
    name=$1
    shift
    echo "=== $name"
    if ! "$@"; then
        status=1
        failed="$failed $name"
    fi
}
step linux ctest --preset linux
step windows xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" ctest --preset windows
for preset in asan tsan fuzz; do
    if cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset"; then
        step "$preset" ctest --preset "$preset"
    else
        status=1
        failed="$failed $preset-build"
    fi
done
if [ $status -ne 0 ]; then
    echo "Failed:$failed"
fi
exit $status
