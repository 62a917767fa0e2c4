#!/bin/sh
# Validates the bundle's Turtle against the LV2 schemas installed on this
# machine: every bundle under the system LV2 folder that holds no binary
# describes LV2 itself (plug-in bundles are left out).
#   validate-turtle.sh SORD_VALIDATE BUNDLE_DIR
set -eu
validate=$1
bundle=$2
schemas=""
for dir in /usr/lib/lv2/*.lv2; do
    ls "$dir"/*.so >/dev/null 2>&1 && continue
    schemas="$schemas $(ls "$dir"/*.ttl)"
done
[ -n "$schemas" ] || { echo "no LV2 schemas under /usr/lib/lv2 (Debian: lv2-dev)"; exit 1; }
for file in manifest.ttl KorvaneZ5R.ttl presets.ttl; do
    [ -f "$bundle/$file" ] || { echo "missing $bundle/$file"; exit 1; }
done
# shellcheck disable=SC2086
output=$("$validate" $schemas "$bundle"/*.ttl 2>&1) || { echo "$output"; exit 1; }
echo "$output"
if echo "$output" | grep -q "^error"; then exit 1; fi
echo "$output" | grep -q "Found 0 errors"
