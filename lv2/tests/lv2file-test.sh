#!/bin/sh
# The bundle in lv2file, an offline LV2 host nobody here wrote, against the
# VST 2.4 build rendered by z5r-render: the same test signal, the same
# settings (port values in lv2file, normalized values in z5r-render), the
# same block size; the outputs must have the same bits. lv2file does not
# compensate latency, so z5r-render keeps the raw output too; and it clips
# its output to full scale unless told not to, which this effect can exceed
# by 20 dB (normalized, level +24 dB).
#   lv2file-test.sh BUILD_DIR
set -u
build=$1
uri=https://qmv.example/plugins/korvane-z5r
for tool in lv2file "$build/z5r-render" "$build/z5r-lv2-wav"; do
    command -v "$tool" >/dev/null 2>&1 || { echo "missing $tool"; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A folder that holds only our bundle, so that lv2file finds it by URI.
mkdir "$work/lv2"
ln -s "$build/KorvaneZ5R.lv2" "$work/lv2/KorvaneZ5R.lv2"
export LV2_PATH="$work/lv2"
"$build/z5r-lv2-wav" make "$work/in.wav" 48000 36000 || exit 1

failed=0

# The eight presets, listed by name.
lv2file -L "$uri" >"$work/presets.txt" 2>&1
for name in "Default" "Smooth" "Moderate" "Maximum Overdrive" "Default 5" "Default 6" "Default 7" "Default 8"; do
    if ! grep -qx "Preset: $name" "$work/presets.txt"; then
        echo "FAIL preset \"$name\" not listed:"
        cat "$work/presets.txt"
        failed=1
    fi
done

# compare NAME BLOCK PRESET "LV2FILE OPTIONS" "Z5R-RENDER OPTIONS"
compare() {
    # shellcheck disable=SC2086
    if [ -n "$3" ]; then
        lv2file --ignore-clipping -i "$work/in.wav" -o "$work/lv2.wav" -b "$2" -P "$3" $4 "$uri" >"$work/log" 2>&1
    else
        lv2file --ignore-clipping -i "$work/in.wav" -o "$work/lv2.wav" -b "$2" $4 "$uri" >"$work/log" 2>&1
    fi
    if [ $? -ne 0 ]; then
        echo "FAIL $1: lv2file:"
        cat "$work/log"
        failed=1
        return
    fi
    # shellcheck disable=SC2086
    if ! "$build/z5r-render" --plugin "$build/KorvaneZ5R.so" --block "$2" --no-latency-compensation -q $5 \
        -o "$work/vst.wav" "$work/in.wav" >"$work/log" 2>&1; then
        echo "FAIL $1: z5r-render:"
        cat "$work/log"
        failed=1
        return
    fi
    if result=$("$build/z5r-lv2-wav" compare "$work/lv2.wav" "$work/vst.wav"); then
        echo "ok   $1, blocks of $2: $result"
    else
        echo "FAIL $1, blocks of $2: $result"
        failed=1
    fi
}

compare "defaults" 512 "" "" ""
compare "12AT7, 250 V, 1 uF, 16x" 256 "" \
    "-p oversample:1 -p gain:24 -p level:-6 -p triode:1 -p voltage:250 -p cap:1" \
    "--set Oversmpl=1 --set Gain=0.75 --set Level=0.375 --set Triode=0.5 --set Voltage=0.5 --set Cap=0.5"
compare "top of every range, normalized" 1000 "" \
    "-p gain:36 -p level:24 -p triode:2 -p voltage:350 -p cap:22 -p normalize:1" \
    "--set Gain=1 --set Level=1 --set Triode=1 --set Voltage=1 --set Cap=1 --set Normaliz=1"
compare "preset Smooth" 64 "Smooth" "" "--program 1"
compare "preset Moderate" 4096 "Moderate" "" "--program 2"
compare "preset Maximum Overdrive, gain typed over it" 333 "Maximum Overdrive" "-p gain:26.4" \
    "--program 3 --set Gain=0.8"
exit $failed
