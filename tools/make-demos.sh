#!/bin/sh
# The main job from a fresh machine: install what is needed, build every
# format of the effect for Linux and Windows and the JACK application
# (without the tests), and render the built-in demo riff through each of
# the eight factory programs of the Linux plug-in into out/demo/.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh
for preset in linux windows; do
    cmake --preset "$preset" >/dev/null
done
cmake --build --preset linux --target products z5r-render
cmake --build --preset windows --target products
mkdir -p out/demo
for program in 0 1 2 3 4 5 6 7; do
    build/linux/z5r-render --quiet --program "$program" -o "out/demo/program-$program.wav"
done
echo "Linux:    build/linux/KorvaneZ5R.so (VST 2.4), KorvaneZ5R.vst3/, KorvaneZ5R.clap, KorvaneZ5R.lv2/, z5r-jack"
echo "Windows:  build/windows/KorvaneZ5R.dll (VST 2.4), KorvaneZ5R.vst3/, KorvaneZ5R.clap"
echo "Demos:    out/demo/program-0.wav ... program-7.wav"
