#!/bin/sh
# A changed skin picture reaches the Windows library's resources in an
# incremental build, without touching the resource list: in a copy of the
# source tree, the compiled resource is built, one picture gets new bytes,
# and the next build must carry them.
#   skin-rebuild.sh SOURCE_DIR SCRATCH_DIR
set -eu
source=$1
scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch/tree"
(cd "$source" && git ls-files -z 2>/dev/null || find . -path ./build -prune -o -type f -print0) |
    (cd "$source" && xargs -0 cp --parents -t "$scratch/tree")
cd "$scratch/tree"
cmake --preset windows >/dev/null
cmake --build --preset windows --target z5r_skins_rc >/dev/null
object=$(find build/windows -name 'skins.rc.*obj' -o -name 'skins.rc.res' | head -n 1)
[ -n "$object" ] || { echo "no compiled resource found"; exit 1; }
marker="skin-changed-$$"
if grep -q "$marker" "$object"; then echo "marker already present"; exit 1; fi
# New bytes at the end of one picture (trailing bytes do not matter to a
# PNG decoder), with a later time stamp.
sleep 1
printf '%s' "$marker" >>resources/panel_144.png
cmake --build --preset windows --target z5r_skins_rc >/dev/null
if grep -q "$marker" "$object"; then
    echo "the changed picture was embedded"
    rm -rf "$scratch"
    exit 0
fi
echo "the incremental build kept the old picture"
exit 1
