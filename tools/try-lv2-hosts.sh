#!/bin/sh
# Renders through two LV2 hosts nobody here wrote and compares with the VST
# 2.4 build: lv2file (the same run as the CTest lv2.lv2file), then Ardour's
# headless Lua tool, which finds the bundle through LV2_PATH, renders each
# case through the LV2 plug-in and through the VST 2.4 library (LXVST) in
# the same session, and exports both. Each export is compared with the
# other and with z5r-render's offline render of Ardour's own test signal.
# Run by hand (not in CI): Ardour's tool takes a minute or two and now and
# then fails by itself, so each session gets three tries.
#
#   tools/try-lv2-hosts.sh [BUILD_DIR]        (default: build/linux)
#
# Needs lv2file and ardour7-lua (Debian: lv2file, ardour) and, in BUILD_DIR,
# KorvaneZ5R.lv2, KorvaneZ5R.so, z5r-render and z5r-lv2-wav. Keeps its
# files under /tmp/z5r-lv2-hosts.* when something fails.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/linux}" && pwd) || exit 1
uri=https://qmv.example/plugins/korvane-z5r
wav=$build/z5r-lv2-wav
for need in "$build/KorvaneZ5R.lv2/manifest.ttl" "$build/KorvaneZ5R.so" "$build/z5r-render" "$wav"; do
    [ -e "$need" ] || {
        echo "missing $need: build the targets KorvaneZ5R.lv2 KorvaneZ5R z5r-render z5r-lv2-wav"
        exit 1
    }
done
for tool in lv2file ardour7-lua; do
    command -v "$tool" >/dev/null || { echo "missing $tool (Debian: lv2file, ardour)"; exit 1; }
done

work=$(mktemp -d /tmp/z5r-lv2-hosts.XXXXXX)
failed=0

echo "== lv2file"
"$root/lv2/tests/lv2file-test.sh" "$build" || failed=1

echo "== Ardour (headless Lua tool)"
home=$work/home
config=$home/.config/ardour7
mkdir -p "$work/lv2" "$work/vst" "$config/scripts" "$config/export" "$work/out"
ln -s "$build/KorvaneZ5R.lv2" "$work/lv2/KorvaneZ5R.lv2"
cp "$build/KorvaneZ5R.so" "$work/vst/"

. "$root/tools/ardour-config.sh"
write_ardour_config

# Cases: name, LV2 port values, VST 2.4 normalized values, LV2 preset. (The
# VST 2.4 side gets Moderate's values set one by one: Ardour's headless
# tool does not load a VST 2.4 program by its name.)
cat >"$work/session.lua" <<EOF
local out = "$work/out"
local cases = {
	{ "12at7",    { 0, 24, -6, 1, 250, 1, 0 },   { 0, 0.75, 0.375, 0.5, 0.5, 0.5, 0 }, "" },
	{ "16x-top",  { 1, 36, 24, 2, 350, 22, 1 },  { 1, 1, 1, 1, 1, 1, 1 },             "" },
	{ "moderate", {},                            { 1, 0.8, 0.45, 0, 1, 1, 0 },        "Moderate" },
}
AudioEngine:set_backend ("None (Dummy)", "", "")
create_session ("$work/session", "z5r", 48000)
local bus = Session:new_audio_route (2, 2, nil, 1, "Z5R", ARDOUR.PresentationInfo.Flag.AudioBus,
                                     ARDOUR.PresentationInfo.max_order):front ()
bus:add_processor_by_index (ARDOUR.LuaAPI.new_luaproc (Session, "Z5R Test Signal"), 0, nil, true)

local function export (name)
	local e = Session:simple_export ()
	e:set_name (name)
	e:set_folder (out .. "/" .. name)
	e:set_range (0, 96000)
	e:set_preset ("5a1f2c9e-9d5b-4c1e-8f6a-3e2d1c0b9a87")
	print ("export", name, e:run_export ())
end

export ("input")
for _, c in ipairs (cases) do
	for _, kind in ipairs ({ "lv2", "vst" }) do
		local p
		if kind == "lv2" then
			p = ARDOUR.LuaAPI.new_plugin (Session, "$uri", ARDOUR.PluginType.LV2, c[4])
		else
			p = ARDOUR.LuaAPI.new_plugin (Session, "Korvane Z5R", ARDOUR.PluginType.LXVST, "")
		end
		if p:isnil () then
			print ("no plug-in", kind)
		else
			bus:add_processor_by_index (p, 1, nil, false)
			for i, v in ipairs (kind == "lv2" and c[2] or c[3]) do
				ARDOUR.LuaAPI.set_processor_param (p, i - 1, v)
			end
			p:activate ()
			sleep (1)
			export (c[1] .. "-" .. kind)
			bus:remove_processor (p, nil, true)
		end
	end
end
close_session ()
quit ()
EOF

ardour() {
    HOME=$home LV2_PATH=$work/lv2 LXVST_PATH=$work/vst "$@"
}
# Ardour's headless tool never scans VST 2.4 libraries: a first start lists
# ours as unscanned, the scanner scans it, and later starts can load it.
cat >"$work/list.lua" <<EOF
AudioEngine:set_backend ("None (Dummy)", "", "")
create_session ("$work/listing", "list", 48000)
close_session ()
quit ()
EOF
ardour timeout 300 ardour7-lua "$work/list.lua" >"$work/list.log" 2>&1
ardour env LD_LIBRARY_PATH=/usr/lib/ardour7 /usr/lib/ardour7/ardour-vst-scanner "$work/vst/KorvaneZ5R.so" \
    >"$work/scan.log" 2>&1 || { echo "VST scan failed:"; cat "$work/scan.log"; }

cases="12at7 16x-top moderate"
complete() {
    for name in input $(for c in $cases; do echo "$c-lv2 $c-vst"; done); do
        [ -s "$work/out/$name/export.wav" ] || return 1
    done
}
for try in 1 2 3; do
    rm -rf "$work/session" "$work/out"
    mkdir -p "$work/out"
    for name in input $(for c in $cases; do echo "$c-lv2 $c-vst"; done); do mkdir -p "$work/out/$name"; done
    ardour timeout 600 ardour7-lua "$work/session.lua" >"$work/ardour-$try.log" 2>&1
    complete && break
    echo "Ardour try $try did not export everything (log: $work/ardour-$try.log)"
done

if complete; then
    # Ardour keeps running a plug-in before an export begins; give the
    # offline render a silent second before the signal, and compare after it.
    # Ardour's export keeps the delay of a lone bus's plug-in (it lines routes
    # up with each other, and here there is only one), so the offline render
    # keeps it too.
    "$wav" pad "$work/out/input/export.wav" "$work/padded.wav" 48000
    for c in $cases; do
        case $c in
            12at7) set -- --set Gain=0.75 --set Level=0.375 --set Triode=0.5 --set Voltage=0.5 --set Cap=0.5 ;;
            16x-top) set -- --set Oversmpl=1 --set Gain=1 --set Level=1 --set Triode=1 --set Voltage=1 --set Cap=1 \
                --set Normaliz=1 ;;
            moderate) set -- --program 2 ;;
        esac
        "$build/z5r-render" --plugin "$build/KorvaneZ5R.so" --no-latency-compensation -q "$@" \
            -o "$work/$c-offline.wav" "$work/padded.wav" >/dev/null || failed=1
        if result=$("$wav" compare "$work/out/$c-lv2/export.wav" "$work/out/$c-vst/export.wav"); then
            echo "ok   $c: LV2 against VST 2.4 in Ardour: $result"
        else
            echo "FAIL $c: LV2 against VST 2.4 in Ardour: $result"
            failed=1
        fi
        for kind in lv2 vst; do
            if result=$("$wav" compare "$work/out/$c-$kind/export.wav" "$work/$c-offline.wav" 48000); then
                echo "ok   $c: Ardour's $kind export against z5r-render offline: $result"
            else
                echo "FAIL $c: Ardour's $kind export against z5r-render offline: $result"
                failed=1
            fi
        done
    done
else
    echo "FAIL Ardour exported nothing usable in three tries"
    failed=1
fi

if [ $failed -eq 0 ]; then
    rm -rf "$work"
    echo "all renders agree"
else
    echo "files kept in $work"
fi
exit $failed
