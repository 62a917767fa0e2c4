#!/bin/bash
# Runs z5r-validate over the VST 2.4 plug-ins that Debian's zam-plugins,
# dpf-plugins-vst and lsp-plugins-vst packages install, and prints a table:
# plug-in, package, tests passed and failed, and the failing tests (similar
# names folded together: ".*." for the min/mid/max settings, "block-*" for
# the block sizes, "edges.*" for the parameters, with the count).
#
#   tools/validate/debian-suite.sh [options] [-- VALIDATOR-OPTIONS]
#     --validator PATH  the z5r-validate to use (default: build/linux/z5r-validate)
#     --out DIR         where each plug-in's full output goes (default: a new temporary folder)
#     --jobs N          plug-ins validated at once (default 1)
#     --full            the full grids instead of --quick
#     --only REGEX      only plug-ins whose file name matches
#
# Editor checks need an X display: run it as
#   xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp -noreset" tools/validate/debian-suite.sh
# (-noreset: an X server that resets whenever its last client leaves turns
# away the editors that connect meanwhile).
# Without one the validator skips them, with a note, and the rest runs as usual.
set -u

here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
validator="$root/build/linux/z5r-validate"
out=""
jobs=1
quick="--quick"
only=""
extra=()
while [ $# -gt 0 ]; do
    case "$1" in
    --validator) validator="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    --jobs) jobs="$2"; shift 2 ;;
    --full) quick=""; shift ;;
    --only) only="$2"; shift 2 ;;
    --) shift; extra=("$@"); break ;;
    -h|--help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "debian-suite.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
if [ ! -x "$validator" ]; then
    echo "debian-suite.sh: no validator at $validator (build z5r-validate, or give --validator)" >&2
    exit 2
fi
[ -n "$out" ] || out="$(mktemp -d /tmp/z5r-debian-suite.XXXXXX)"
mkdir -p "$out"

packages="zam-plugins dpf-plugins-vst lsp-plugins-vst"
list="$out/plugins.txt"
: > "$list"
for package in $packages; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        echo "debian-suite.sh: $package is not installed (apt-get install $package)" >&2
        continue
    fi
    dpkg -L "$package" | grep -E '^/usr/lib/(lx)?vst/.*\.so$' | sort | while read -r so; do
        name="$(basename "$so" .so)"
        case "$name" in
        ZamTube-vst) continue ;;  # tube models are left out
        esac
        [ -z "$only" ] || [[ "$name" =~ $only ]] || continue
        # Shared code libraries beside the plug-ins have no entry point.
        nm -D --defined-only "$so" 2>/dev/null | grep -qwE 'VSTPluginMain|main' || continue
        echo "$package $so" >> "$list"
    done
done

# One plug-in: its full output in $out/NAME.txt.
validate_one() {
    local package="$1" so="$2" name
    name="$(basename "$so" .so)"
    "$validator" $quick "${extra[@]}" "$so" > "$out/$name.txt" 2> "$out/$name.err"
    echo "$package" > "$out/$name.package"
}

count=$(wc -l < "$list")
echo "Validating $count plug-ins ($(date -u '+%Y-%m-%d %H:%M UTC')); outputs in $out" >&2
n=0
while read -r package so; do
    n=$((n + 1))
    echo "  [$n/$count] $(basename "$so" .so)" >&2
    validate_one "$package" "$so" < /dev/null &
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
done < "$list"
wait

# The table.
echo "| Plug-in | Package | Passed | Failed | Failing tests |"
echo "|---|---|---:|---:|---|"
while read -r package so; do
    name="$(basename "$so" .so)"
    file="$out/$name.txt"
    closing="$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$file" | tail -1)"
    if [ -z "$closing" ]; then
        passed="?"; failed="?"
        failing="the validator did not finish (see $file)"
    else
        passed="${closing%% passed*}"
        failed="$(echo "$closing" | sed -E 's/.* ([0-9]+) failed.*/\1/')"
        failing="$(grep -E '^FAIL  ' "$file" | sed -E 's/^FAIL  ([^:]*):.*/\1/' |
            sed -E 's/\.(min|mid|max)\./.*./; s/\.block-[0-9a-z]+$/.block-*/; s/^parameters\.(wild|edges)\.[0-9]+-.*/parameters.\1.*/' |
            awk '{ if (!($0 in seen)) order[n++] = $0; seen[$0]++ }
                 END { for (i = 0; i < n; i++) printf "%s%s%s", (i ? ", " : ""), order[i], (seen[order[i]] > 1 ? " (" seen[order[i]] ")" : "") }')"
    fi
    echo "| $name | $package | $passed | $failed | ${failing:-} |"
done < "$list"
