#!/bin/sh
# Regenerates the pictures of the sound (docs/sound/*.png) and the audio
# examples (docs/audio/*.flac) from the plug-in built from this checkout.
#
#   tools/plots/make-plots.sh [BUILD_DIR]
#
# BUILD_DIR defaults to build/linux (the linux preset). The plug-in and
# z5r-render are configured there if needed and brought up to date first,
# so the pictures always show the current source.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"

if [ $# -gt 1 ]; then
    echo "usage: $0 [BUILD_DIR]" >&2
    exit 2
fi
if [ $# -eq 1 ]; then
    build=$1
    [ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
else
    build=build/linux
    [ -f "$build/CMakeCache.txt" ] || cmake --preset linux
fi
cmake --build "$build" --target z5r-render KorvaneZ5R

# The Debian interpreter has numpy and matplotlib (tools/install-deps.sh);
# a python3 earlier on PATH may not.
python=""
for candidate in python3 /usr/bin/python3; do
    if command -v "$candidate" >/dev/null 2>&1 && "$candidate" -c "import numpy, matplotlib" 2>/dev/null; then
        python=$candidate
        break
    fi
done
if [ -z "$python" ]; then
    echo "no python3 with numpy and matplotlib: run tools/install-deps.sh" >&2
    exit 1
fi

exec "$python" tools/plots/make_plots.py --render "$build/z5r-render" --plugin "$build/KorvaneZ5R.so" \
    --sound docs/sound --audio docs/audio
