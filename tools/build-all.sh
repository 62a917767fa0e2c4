#!/bin/sh
# Configures and builds both plug-ins: build/linux/KorvaneZ5R.so (with the
# tests, benchmarks and render tool) and build/windows/KorvaneZ5R.dll
# (with its Windows tests).
set -eu
cd "$(dirname "$0")/.."
for preset in linux windows; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
