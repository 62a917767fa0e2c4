#!/bin/bash
# Runs z5r-validate over the plug-ins that Debian's zam-plugins,
# dpf-plugins-vst and lsp-plugins-vst packages install: their VST 2.4
# libraries, and zam-plugins' VST3 bundles and CLAP files too. Prints a
# table: plug-in, format, package, tests passed and failed, and the failing
# tests (similar names folded together: ".*." for the min/mid/max settings,
# "block-*" for the block sizes, "edges.*" for the parameters, with the count).
#
#   tools/validate/debian-suite.sh [options] [-- VALIDATOR-OPTIONS]
#     --validator PATH  the z5r-validate to use (default: build/linux/z5r-validate)
#     --out DIR         where each plug-in's full output goes (default: a new temporary folder)
#     --jobs N          plug-ins validated at once (default 1)
#     --full            the full grids instead of --quick
#     --only REGEX      only plug-ins whose file name matches
#     --table-only      no validation: the table again from the outputs in --out
#     --formats LIST    which formats, comma-separated (default vst2,vst3,clap)
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
table_only=""
formats="vst2,vst3,clap"
extra=()
while [ $# -gt 0 ]; do
    case "$1" in
    --validator) validator="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    --jobs) jobs="$2"; shift 2 ;;
    --full) quick=""; shift ;;
    --only) only="$2"; shift 2 ;;
    --table-only) table_only=1; shift ;;
    --formats) formats="$2"; shift 2 ;;
    --) shift; extra=("$@"); break ;;
    -h|--help) sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "debian-suite.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
if [ -z "$table_only" ] && [ ! -x "$validator" ]; then
    echo "debian-suite.sh: no validator at $validator (build z5r-validate, or give --validator)" >&2
    exit 2
fi
if [ -n "$table_only" ] && [ ! -f "$out/plugins.txt" ]; then
    echo "debian-suite.sh: --table-only needs the --out folder of an earlier run" >&2
    exit 2
fi
[ -n "$out" ] || out="$(mktemp -d /tmp/z5r-debian-suite.XXXXXX)"
mkdir -p "$out"
list="$out/plugins.txt"

packages="zam-plugins dpf-plugins-vst lsp-plugins-vst"
[ -n "$table_only" ] || : > "$list"
for package in $packages; do
    [ -z "$table_only" ] || break
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        echo "debian-suite.sh: $package is not installed (apt-get install $package)" >&2
        continue
    fi
    files="$(dpkg -L "$package")"
    if [[ ",$formats," == *,vst2,* ]]; then
        echo "$files" | grep -E '^/usr/lib/(lx)?vst/.*\.so$' | sort | while read -r so; do
            name="$(basename "$so" .so)"
            case "$name" in
            ZamTube-vst) continue ;;  # tube models are left out
            esac
            [ -z "$only" ] || [[ "$name" =~ $only ]] || continue
            # Shared code libraries beside the plug-ins have no entry point.
            nm -D --defined-only "$so" 2>/dev/null | grep -qwE 'VSTPluginMain|main' || continue
            echo "$package vst2 $so" >> "$list"
        done
    fi
    # VST3 bundles and CLAP files: the bundle folder, the .clap file.
    for format in vst3 clap; do
        [[ ",$formats," == *,$format,* ]] || continue
        echo "$files" | grep -E "^/usr/lib/$format/[^/]+\.$format\$" | sort | while read -r path; do
            name="$(basename "$path")"
            case "$name" in
            ZamTube.*) continue ;;  # tube models are left out
            esac
            [ -z "$only" ] || [[ "$name" =~ $only ]] || continue
            echo "$package $format $path" >> "$list"
        done
    done
done

# One plug-in: its full output in $out/NAME.txt.
validate_one() {
    local package="$1" so="$2" name
    name="$(basename "$so" .so)"
    "$validator" $quick "${extra[@]}" "$so" > "$out/$name.txt" 2> "$out/$name.err"
    echo "$package" > "$out/$name.package"
}

# A list line's plug-in name as the table and the output files know it.
name_of() {
    case "$1" in
    vst2) basename "$2" .so ;;
    *) basename "$2" ;;
    esac
}

if [ -z "$table_only" ]; then
    count=$(wc -l < "$list")
    echo "Validating $count plug-ins ($(date -u '+%Y-%m-%d %H:%M UTC')); outputs in $out" >&2
    n=0
    while read -r package format so; do
        n=$((n + 1))
        echo "  [$n/$count] $(name_of "$format" "$so")" >&2
        validate_one "$package" "$so" < /dev/null &
        while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
    done < "$list"
    wait
fi

# Failing test names, one a line, folded into one line: the settings into
# ".*.", the processing grid's rates ("*Hz") or block sizes ("block-*"),
# whichever gives fewer names, the parameters into "edges.*", each with
# its count.
fold_names() {
    sed -E 's/\.(min|mid|max)\./.*./; s/^parameters\.(wild|edges)\.[0-9]+-.*/parameters.\1.*/' |
        awk '
        /^processing\.\*\.[^.]+(\.[0-9]+)?Hz\.block-/ {
            rate = $0; sub(/^processing\.\*\./, "", rate); sub(/Hz\.block-.*/, "", rate)
            block = $0; sub(/.*\.block-/, "", block)
            pair[rate, block]++
            if (!("processing" in seen)) { order[n++] = "processing"; seen["processing"] = 1 }
            next
        }
        { if (!($0 in seen)) order[n++] = $0; seen[$0]++ }
        END {
            out = ""
            for (i = 0; i < n; i++) {
                name = order[i]
                if (name != "processing") { out = out (out ? ", " : "") name (seen[name] > 1 ? " (" seen[name] ")" : ""); continue }
                # By block size or by rate, whichever gives fewer names.
                for (key in pair) {
                    split(key, part, SUBSEP)
                    byBlock[part[2]] += pair[key]; byRate[part[1]] += pair[key]
                    blocksOf[part[1]]++; onlyBlock[part[1]] = part[2]
                    ratesOf[part[2]]++; onlyRate[part[2]] = part[1]
                }
                nb = 0; for (b in byBlock) nb++
                nr = 0; for (r in byRate) nr++
                if (nb < nr)
                    for (b in byBlock)
                        out = out (out ? ", " : "") "processing.*." (ratesOf[b] > 1 ? "*" : onlyRate[b]) "Hz.block-" b (byBlock[b] > 1 ? " (" byBlock[b] ")" : "")
                else
                    for (r in byRate)
                        out = out (out ? ", " : "") "processing.*." r "Hz.block-" (blocksOf[r] > 1 ? "*" : onlyBlock[r]) (byRate[r] > 1 ? " (" byRate[r] ")" : "")
            }
            printf "%s", out
        }'
}

# The table.
echo "| Plug-in | Format | Package | Passed | Failed | Groups failed | Failing tests |"
echo "|---|---|---|---:|---:|---|---|"
while read -r package format so; do
    name="$(name_of "$format" "$so")"
    file="$out/$name.txt"
    closing="$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$file" | tail -1)"
    if [ -z "$closing" ]; then
        passed="?"; failed="?"; groups="?"
        failing="the validator did not finish (see $file)"
    else
        passed="${closing%% passed*}"
        failed="$(echo "$closing" | sed -E 's/.* ([0-9]+) failed.*/\1/')"
        failing="$(grep -E '^FAIL  ' "$file" | sed -E 's/^FAIL  ([^:]*):.*/\1/' | fold_names)"
        # The groups with a failure; every other group that ran passed.
        groups="$(grep -E '^FAIL  ' "$file" | sed -E 's/^FAIL  ([^.:]*).*/\1/' | awk '!seen[$0]++' | paste -sd, - | sed 's/,/, /g')"
    fi
    echo "| $name | $format | $package | $passed | $failed | ${groups:-} | ${failing:-} |"
done < "$list"
