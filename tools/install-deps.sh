#!/bin/sh
# Installs the Debian 12 packages that building and testing need: the
# native tool chain and libraries, the MinGW-w64 cross compiler for the
# Windows plug-in, Wine with a virtual X server to run its tests, clang
# with its runtime libraries for the fuzzer (g++ brings the sanitizers), the
# X11 libraries of the Linux editor and XTest for its tests, the LV2 headers,
# lilv and the LV2 tools the LV2 tests use, dpf-source (Debian's copy of the
# CLAP headers, which the CLAP plug-in builds against, and another
# framework's VST3 declarations, which the VST3 tests compare ours with),
# JACK's headers and server for z5r-jack and its tests, and numpy with
# matplotlib for the pictures of the sound.
set -eu
packages="g++ cmake ninja-build pkg-config python3
  libgtest-dev googletest libbenchmark-dev libsndfile1-dev libpng-dev
  g++-mingw-w64-x86-64-posix wine64 xvfb xauth
  clang-14 libclang-rt-14-dev
  libxcb1-dev libxcb-image0-dev libxcb-shm0-dev libx11-dev libx11-xcb-dev libxtst-dev x11-apps
  lv2-dev liblilv-dev lilv-utils lv2file sordi
  dpf-source
  libjack-jackd2-dev jackd2
  python3-numpy python3-matplotlib flac"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
