#!/bin/sh
# Runs the fuzzer for a bounded time from the committed corpus, without
# writing into it: new inputs go to a scratch folder, crash inputs and the
# full log into the build folder. Prints one summary line.
#   run-fuzz.sh FUZZER SECONDS CORPUS OUTDIR
set -u
fuzzer=$1 seconds=$2 corpus=$3 out=$4
mkdir -p "$out"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$fuzzer" -max_total_time="$seconds" -max_len=1024 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$out/" "$scratch" "$corpus" >"$out/fuzz.log" 2>&1
rc=$?
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out/fuzz.log")
rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$out/fuzz.log")
echo "fuzz: ${runs:-?} executions in ${seconds} s (${rate:-?}/s) from $(ls "$corpus" | wc -l) corpus inputs, $(ls "$scratch" | wc -l) new; exit $rc"
if [ $rc -ne 0 ]; then
    tail -n 60 "$out/fuzz.log"
fi
exit $rc
