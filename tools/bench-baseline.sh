#!/bin/sh
# Speed figures of this build and of an earlier one, side by side in one
# run of the benchmark program: builds the plug-in of REVISION (by default
# the last build before the audio path was made faster) into
# build/baseline/ and runs build/linux/z5r_bench against both.
#   tools/bench-baseline.sh [REVISION] [benchmark options...]
set -eu
cd "$(dirname "$0")/.."
revision=${1:-ef65c5d}
[ $# -gt 0 ] && shift
src=build/baseline/src-$revision
out=build/baseline/build-$revision
if [ ! -f "$out/KorvaneZ5R.so" ]; then
    rm -rf "$src"
    mkdir -p "$src"
    git archive "$revision" | tar -x -C "$src"
    cmake -S "$src" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$out" --target KorvaneZ5R
fi
cmake --build build/linux --target z5r_bench
cd build/linux
Z5R_BASELINE_PLUGIN="$(cd "../../$out" && pwd)/KorvaneZ5R.so" exec ./z5r_bench "$@"
