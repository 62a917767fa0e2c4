#!/bin/sh
# Command-line checks of z5r-render: cli_test.sh GROUP WORKDIR
# The environment names the binaries: RENDER, PLUGIN, WAVTOOL, and the stand-in
# libraries NO_ENTRY, NULL_ENTRY, BAD_MAGIC, NO_OUTPUTS, PASSTHROUGH, DELAY,
# TERM_AT_STOP, TERM_AT_CLOSE and ABORT.
set -u
group=$1
work=$2
rm -rf "$work" && mkdir -p "$work/log" && cd "$work" || exit 1
log=$work/log

passed=0
failed=0
ok() { passed=$((passed + 1)); }
bad() { echo "FAIL: $*"; failed=$((failed + 1)); }

# expect_ok NAME ARGS...: renders successfully with the real plug-in.
expect_ok() {
    name=$1; shift
    if "$RENDER" --plugin "$PLUGIN" "$@" >"$log/stdout.txt" 2>"$log/stderr.txt"; then ok
    else bad "$name: exit $?: $(cat "$log/stderr.txt")"; fi
}

# expect_error NAME ARGS...: non-zero exit, one line on stderr, no file left behind.
# The real plug-in is used unless ARGS name another (the last --plugin counts).
expect_error() {
    name=$1; shift
    ls -A >"$log/before.txt"
    "$RENDER" --plugin "$PLUGIN" "$@" >"$log/stdout.txt" 2>"$log/stderr.txt"
    rc=$?
    ls -A >"$log/after.txt"
    lines=$(wc -l <"$log/stderr.txt")
    if [ "$rc" -eq 0 ]; then bad "$name: exit 0"
    elif [ "$lines" -ne 1 ]; then bad "$name: $lines lines on stderr: $(cat "$log/stderr.txt")"
    elif ! cmp -s "$log/before.txt" "$log/after.txt"; then bad "$name: left files behind: $(diff "$log/before.txt" "$log/after.txt" | tr '\n' ' ')"
    else ok; echo "  $name: $(cat "$log/stderr.txt")"; fi
}

check_wav() { # NAME FILE CHANNELS RATE FRAMES|any
    if "$WAVTOOL" check "$2" "$3" "$4" "$5" >/dev/null 2>"$log/check.txt"; then ok; else bad "$1: $(cat "$log/check.txt")"; fi
}

stdout_has() { # NAME TEXT
    if grep -q -- "$2" "$log/stdout.txt"; then ok; else bad "$1: '$2' not in the report"; fi
}

# stand_in NAME LIBRARY ARGS...: renders through a stand-in plug-in, which must
# have been closed properly (it says so on stderr otherwise).
stand_in() {
    name=$1; lib=$2; shift 2
    "$RENDER" --plugin "$lib" "$@" >"$log/stdout.txt" 2>"$log/stderr.txt"
    rc=$?
    if [ "$rc" -eq 0 ] && [ ! -s "$log/stderr.txt" ]; then ok
    else bad "$name: exit $rc: $(cat "$log/stderr.txt")"; fi
}

same_audio() { # NAME IN OUT [DELAY]
    name=$1; shift
    if "$WAVTOOL" same "$@" 2>"$log/check.txt"; then ok; else bad "$name: $(cat "$log/check.txt")"; fi
}

# The input level lines of the last report.
input_levels() { grep '^  in ' "$log/stdout.txt"; }

# into_pipe FILE ARGS...: renders into a pipe whose reader saves FILE; the
# render's exit status in $rc, its stderr in $log/stderr.txt.
into_pipe() {
    file=$1; shift
    { "$RENDER" "$@" 2>"$log/stderr.txt"; echo $? >"$log/rc.txt"; } | cat >"$file"
    rc=$(cat "$log/rc.txt")
}

# last_error_is NAME TEXT: the render failed and its last line on stderr says TEXT.
last_error_is() {
    if [ "$rc" -ne 0 ] && tail -n 1 "$log/stderr.txt" | grep -q -- "$2"; then ok
    else bad "$1: exit $rc: $(tail -n 1 "$log/stderr.txt")"; fi
}

# wait_for PID COMMAND...: polls until COMMAND succeeds, or the process has ended; false then.
wait_for() {
    pid=$1; shift
    tries=0
    until "$@"; do
        kill -0 "$pid" 2>/dev/null && [ $tries -lt 600 ] || return 1
        tries=$((tries + 1))
        sleep 0.05
    done
}
temp_of() { ls "$1".?????? >/dev/null 2>&1; }

# stop_render NAME PID SIGNAL STATUS: sends SIGNAL, expects the render to end with STATUS and one
# line on stderr, and no temporary file left. A render that does not stop is killed.
stop_render() {
    name=$1; pid=$2
    kill -"$3" "$pid"
    tries=0
    while kill -0 "$pid" 2>/dev/null && [ $tries -lt 600 ]; do tries=$((tries + 1)); sleep 0.05; done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid"
    rc=$?
    if [ "$rc" -ne "$4" ]; then bad "$name: exit $rc, not $4: $(cat "$log/stderr.txt")"
    elif [ "$(wc -l <"$log/stderr.txt")" -ne 1 ]; then bad "$name: stderr: $(cat "$log/stderr.txt")"
    elif ls ./*.?????? >/dev/null 2>&1; then bad "$name: left $(ls ./*.??????)"
    else ok; echo "  $name: $(cat "$log/stderr.txt")"; fi
}

case $group in
demo)
    # Out of the box: the built-in riff, to the default file name.
    expect_ok "demo" --quiet
    check_wav "demo file" z5r-demo.wav 2 48000 any
    for name in Oversmpl Gain Level Triode Voltage Cap Normaliz; do stdout_has "demo report" "  $name *= "; done
    stdout_has "demo report" "^latency *[0-9][0-9]* samples"
    stdout_has "demo report" "^program *[0-7] "
    stdout_has "demo report" "out R"

    expect_ok "demo at 44.1 kHz" --rate 44100 -o demo44.wav
    check_wav "demo at 44.1 kHz" demo44.wav 2 44100 any

    expect_ok "list" --list
    stdout_has "list" "^  7  "

    expect_ok "help" --help
    stdout_has "help" "^Usage: "
    ;;

render)
    "$WAVTOOL" make mono16.wav 44100 1 30000 pcm16 || exit 1
    "$WAVTOOL" make stereo.wav 96000 2 20000 float || exit 1
    "$WAVTOOL" make one.wav 44100 2 44100 pcm16 || exit 1

    # A block size that does not divide the length, a program and parameters.
    expect_ok "mono with settings" --program 2 --set Gain=0.9 --set level=0.4 --set OVERSMPL=1 --block 333 \
        -o mono-out.wav mono16.wav
    check_wav "mono with settings" mono-out.wav 2 44100 30000
    stdout_has "mono with settings" "^program *2 "
    # The latency is only known once processing has begun; it must not be read before.
    stdout_has "mono with settings" "^latency *[1-9][0-9]* samples"

    expect_ok "tail" --tail 0.5 --block 4096 -o tail-out.wav mono16.wav
    check_wav "tail" tail-out.wav 2 44100 52050

    expect_ok "stereo float at 96 kHz" --program 7 --set Oversmpl=0 --block 1 -o stereo-out.wav stereo.wav
    check_wav "stereo float at 96 kHz" stereo-out.wav 2 96000 20000
    stdout_has "stereo float at 96 kHz" "^latency *0 samples"

    expect_ok "default output name" stereo.wav
    check_wav "default output name" stereo-z5r.wav 2 96000 20000

    # Through a plug-in that copies its input, the file must come back sample for sample.
    for block in 1 333 8192; do
        if "$RENDER" --plugin "$PASSTHROUGH" --block $block --tail 0.01 -o pass.wav mono16.wav >/dev/null 2>"$log/err.txt" &&
            "$WAVTOOL" same mono16.wav pass.wav 2>>"$log/err.txt"; then ok
        else bad "passthrough, block $block: $(cat "$log/err.txt")"; fi
    done
    if "$RENDER" --plugin "$PASSTHROUGH" -o pass.wav stereo.wav >/dev/null 2>"$log/err.txt" &&
        "$WAVTOOL" same stereo.wav pass.wav 2>>"$log/err.txt"; then ok
    else bad "passthrough, stereo: $(cat "$log/err.txt")"; fi

    # The input levels are those of the input, however much is rendered after it.
    expect_ok "levels without a tail" --set Oversmpl=1 -o out.wav one.wav
    input_levels >"$log/in-levels.txt"
    if grep -q '^  in  L *-6\.0[0-9] *-9\.0[0-9]$' "$log/in-levels.txt"; then ok
    else bad "input levels of a half-scale sine: $(cat "$log/in-levels.txt")"; fi
    expect_ok "levels with a tail" --set Oversmpl=1 --tail 3 -o out.wav one.wav
    if input_levels | cmp -s - "$log/in-levels.txt"; then ok
    else bad "input levels change with the tail: $(input_levels | tr '\n' ' ')"; fi
    ;;

errors)
    "$WAVTOOL" make in.wav 48000 2 4800 pcm16 || exit 1
    "$WAVTOOL" make three.wav 48000 3 4800 pcm16 || exit 1
    "$WAVTOOL" make empty.wav 48000 1 0 pcm16 || exit 1
    echo "not audio" >text.wav
    echo "not a library" >text.so

    expect_error "missing input" -o out.wav missing.wav
    expect_error "input is a directory" -o out.wav .
    expect_error "unsupported format" -o out.wav text.wav
    expect_error "three channels" -o out.wav three.wav
    expect_error "empty input" -o out.wav empty.wav
    expect_error "unknown parameter" --set Drive=0.5 -o out.wav in.wav
    expect_error "parameter without value" --set Gain -o out.wav in.wav
    for v in 1.5 -0.1 abc nan inf 0.5x ""; do
        expect_error "value '$v'" --set "Gain=$v" -o out.wav in.wav
    done
    for n in 8 -1 x 1.5 ""; do expect_error "program '$n'" --program "$n" -o out.wav in.wav; done
    for n in 0 -5 abc 65537 ""; do expect_error "block '$n'" --block "$n" -o out.wav in.wav; done
    expect_error "negative tail" --tail -1 -o out.wav in.wav
    expect_error "rate with an input file" --rate 44100 -o out.wav in.wav
    expect_error "unknown option" --frobnicate -o out.wav in.wav
    expect_error "option without value" -o out.wav in.wav --block
    expect_error "two inputs" -o out.wav in.wav in.wav
    expect_error "output is a directory" -o . in.wav
    expect_error "output directory missing" -o no/such/dir/out.wav in.wav
    expect_error "missing plug-in" --plugin ./nowhere.so -o out.wav in.wav
    expect_error "plug-in not a library" --plugin text.so -o out.wav in.wav
    expect_error "plug-in without entry point" --plugin "$NO_ENTRY" -o out.wav in.wav
    expect_error "plug-in making no instance" --plugin "$NULL_ENTRY" -o out.wav in.wav
    # Rejected instances: closed again if they can be called (the stand-in reports
    # one left open), never called into without the magic (it reports the call).
    expect_error "plug-in without the magic" --plugin "$BAD_MAGIC" -o out.wav in.wav
    expect_error "plug-in without outputs" --plugin "$NO_OUTPUTS" -o out.wav in.wav
    ;;

same-file)
    "$WAVTOOL" make in.wav 48000 2 4800 pcm16 || exit 1
    cp in.wav original.wav
    mkdir sub
    ln -s in.wav link.wav
    ln in.wav hard.wav
    expect_error "same name" -o in.wav in.wav
    expect_error "other spelling" -o sub/../in.wav ./in.wav
    expect_error "absolute path" -o "$work/in.wav" in.wav
    expect_error "symbolic link" -o link.wav in.wav
    expect_error "hard link" -o hard.wav in.wav
    expect_error "input through a link" -o in.wav link.wav
    ln -s link.wav chain.wav
    expect_error "chain of links" -o chain.wav in.wav
    # Standard output appended to the input, by name or as "-".
    for out in - /dev/stdout; do
        "$RENDER" --plugin "$PLUGIN" -o $out in.wav >>in.wav 2>"$log/stderr.txt"
        rc=$?
        if [ $rc -ne 0 ] && [ "$(wc -l <"$log/stderr.txt")" -eq 1 ]; then ok
        else bad "-o $out into the input: exit $rc: $(cat "$log/stderr.txt")"; fi
    done
    if cmp -s in.wav original.wav; then ok; else bad "the input was changed"; fi
    ;;

rates)
    # The plug-in runs at 8 kHz to 1 MHz and would quietly stay at its old rate outside.
    for rate in 4000 7999 1000001 2000000; do
        "$WAVTOOL" make "r$rate.wav" $rate 1 1000 pcm16 || exit 1
        expect_error "file at $rate Hz" -o out.wav "r$rate.wav"
    done
    expect_error "list with a file at 4000 Hz" --list r4000.wav
    for rate in 8000 1000000; do
        "$WAVTOOL" make "r$rate.wav" $rate 2 1000 float || exit 1
        expect_ok "file at $rate Hz" --set Oversmpl=1 -o "out$rate.wav" "r$rate.wav"
        check_wav "file at $rate Hz" "out$rate.wav" 2 $rate 1000
    done
    for rate in 7999 1000001 0 -8000; do expect_error "demo at $rate Hz" --rate $rate -o demo.wav; done
    expect_ok "demo at 8000 Hz" --rate 8000 -o demo.wav
    check_wav "demo at 8000 Hz" demo.wav 2 8000 any
    ;;

latency)
    "$WAVTOOL" make mono16.wav 44100 1 30000 pcm16 || exit 1
    "$WAVTOOL" make tiny.wav 44100 2 10 float || exit 1

    # A stand-in that is 37 frames late and says so once it has processed a block:
    # the output lines up with the input again and is just as long, whether the
    # blocks are shorter or longer than the delay.
    for block in 1 5 36 37 38 333 8192; do
        stand_in "delay, block $block" "$DELAY" --block $block -o comp.wav mono16.wav
        same_audio "delay, block $block" mono16.wav comp.wav
        check_wav "delay, block $block" comp.wav 2 44100 30000
    done
    stdout_has "delay report" "^latency *37 samples .*, compensated"
    stand_in "delay with a tail" "$DELAY" --tail 0.01 --block 100 -o comp.wav mono16.wav
    same_audio "delay with a tail" mono16.wav comp.wav
    check_wav "delay with a tail" comp.wav 2 44100 30441
    stand_in "delay, input shorter than the delay" "$DELAY" -o comp.wav tiny.wav
    same_audio "delay, input shorter than the delay" tiny.wav comp.wav
    check_wav "delay, input shorter than the delay" comp.wav 2 44100 10

    # Asked not to compensate: the raw output, late and cut off at the input's end.
    stand_in "delay, not compensated" "$DELAY" --no-latency-compensation --block 64 -o raw.wav mono16.wav
    same_audio "delay, not compensated" mono16.wav raw.wav 37
    check_wav "delay, not compensated" raw.wav 2 44100 30000
    stdout_has "delay, not compensated" "^latency *37 samples .*, not compensated"

    # Without latency nothing moves.
    stand_in "passthrough" "$PASSTHROUGH" --block 7 -o pass.wav mono16.wav
    same_audio "passthrough" mono16.wav pass.wav
    check_wav "passthrough" pass.wav 2 44100 30000
    stdout_has "passthrough" "^latency *0 samples (0.00 ms)$"

    # The real plug-in oversampling: as long as the input, and the raw output is
    # the compensated one exactly the reported latency later.
    expect_ok "oversampling" --set Oversmpl=1 --block 100 -o comp.wav mono16.wav
    check_wav "oversampling" comp.wav 2 44100 30000
    stdout_has "oversampling" "^latency *[1-9][0-9]* samples .*, compensated"
    latency=$(sed -n 's/^latency *\([0-9]*\) samples.*/\1/p' "$log/stdout.txt")
    expect_ok "oversampling, not compensated" --set Oversmpl=1 --block 100 --no-latency-compensation \
        -o raw.wav mono16.wav
    check_wav "oversampling, not compensated" raw.wav 2 44100 30000
    if "$WAVTOOL" lag comp.wav raw.wav "$latency" 2>"$log/check.txt"; then ok
    else bad "oversampling, raw against compensated by $latency: $(cat "$log/check.txt")"; fi
    ;;

streams)
    # Standard output, devices and FIFOs are written to directly: a WAV whose
    # header is sized in advance, and the report goes to stderr instead.
    "$WAVTOOL" make mono16.wav 44100 1 30000 pcm16 || exit 1
    for out in - /dev/stdout; do
        into_pipe piped.wav --plugin "$PASSTHROUGH" --block 1000 -o $out mono16.wav
        if [ "$rc" -eq 0 ]; then ok; else bad "-o $out into a pipe: exit $rc: $(cat "$log/stderr.txt")"; fi
        same_audio "-o $out into a pipe" mono16.wav piped.wav
        check_wav "-o $out into a pipe" piped.wav 2 44100 30000
        if grep -q '^output .*(standard output)' "$log/stderr.txt"; then ok
        else bad "-o $out: no report on stderr"; fi
    done
    if [ -L /dev/stdout ]; then ok; else bad "/dev/stdout is no longer a link"; fi

    if "$RENDER" --plugin "$PLUGIN" -o - mono16.wav >redirected.wav 2>"$log/stderr.txt"; then ok
    else bad "-o - into a file: $(cat "$log/stderr.txt")"; fi
    check_wav "-o - into a file" redirected.wav 2 44100 30000

    # Started with standard output closed: the report must not land in the audio file.
    if "$RENDER" --plugin "$PLUGIN" -o closed.wav mono16.wav >&- 2>"$log/stderr.txt"; then ok
    else bad "stdout closed: $(cat "$log/stderr.txt")"; fi
    check_wav "stdout closed" closed.wav 2 44100 30000
    "$RENDER" --plugin "$PLUGIN" -o - mono16.wav >&- 2>"$log/stderr.txt"
    rc=$?
    last_error_is "-o - with stdout closed" "standard output: it is closed"
    if "$RENDER" --plugin "$PLUGIN" -o /dev/null mono16.wav >&- 2>"$log/stderr.txt"; then ok
    else bad "/dev/null with stdout closed: $(cat "$log/stderr.txt")"; fi

    expect_ok "/dev/null" -o /dev/null mono16.wav
    if [ -c /dev/null ]; then ok; else bad "/dev/null is no longer a device"; fi
    expect_error "a full device" -o /dev/full mono16.wav

    mkfifo fifo
    cat fifo >from-fifo.wav &
    reader=$!
    stand_in "FIFO" "$PASSTHROUGH" -o fifo mono16.wav
    wait $reader
    same_audio "FIFO" mono16.wav from-fifo.wav
    if [ -p fifo ]; then ok; else bad "the FIFO was replaced"; fi

    # Over 4 GiB: an RF64 header with the whole sizes. The reader stops after
    # the header; the render then ends by SIGPIPE, as a writer into a closed pipe does.
    { "$RENDER" --plugin "$PASSTHROUGH" --rate 1000000 --tail 600 -o - 2>"$log/stderr.txt"; echo $? >"$log/rc.txt"; } |
        head -c 80 >head.bin
    rc=$(cat "$log/rc.txt")
    if [ "$rc" -eq 141 ]; then ok; else bad "RF64 stream: exit $rc, not 141 (SIGPIPE)"; fi
    last_error_is "RF64 stream" "stopped by SIGPIPE; the output stream is incomplete"
    data=$(od -A n -t u8 -j 28 -N 8 head.bin | tr -d ' ')
    count=$(od -A n -t u8 -j 36 -N 8 head.bin | tr -d ' ')
    if [ "$(head -c 4 head.bin)" = RF64 ] && [ "$data" -eq $((count * 8)) ] && [ "$data" -gt 4294967295 ]; then ok
    else bad "RF64 stream header: $(head -c 4 head.bin), data $data bytes, $count frames"; fi
    ;;

links)
    "$WAVTOOL" make in.wav 48000 2 4800 pcm16 || exit 1
    mkdir real
    # A link is written through: it stays, and the file it names is created or replaced.
    ln -s real/out.wav link.wav
    for pass in created replaced; do
        expect_ok "through a link, $pass" --set Gain=0.$$ -o link.wav in.wav
        if [ -L link.wav ]; then ok; else bad "through a link, $pass: the link was replaced"; fi
        check_wav "through a link, $pass" real/out.wav 2 48000 4800
    done
    chmod 640 real/out.wav  # neither a new file's mode nor a temporary file's (600)
    expect_ok "permissions" -o link.wav in.wav
    if [ "$(stat -c %a real/out.wav)" = 640 ]; then ok; else bad "permissions became $(stat -c %a real/out.wav)"; fi

    # A write-protected file is refused, also through a link (even for root).
    cp in.wav locked.wav
    chmod 444 locked.wav
    ln -s locked.wav to-locked.wav
    expect_error "read-only file" -o locked.wav in.wav
    expect_error "link to a read-only file" -o to-locked.wav in.wav
    if cmp -s in.wav locked.wav; then ok; else bad "the read-only file was changed"; fi
    ;;

damaged)
    # Damage is an error and leaves no output, never a shorter render.
    "$WAVTOOL" make in.flac 44100 2 200000 flac || exit 1
    "$WAVTOOL" make in.wav 44100 2 20000 pcm16 || exit 1
    size=$(wc -c <in.flac)
    cp in.flac overwritten.flac
    dd if=/dev/zero of=overwritten.flac bs=1000 seek=$((size / 2000)) count=20 conv=notrunc 2>/dev/null
    head -c $((size / 2)) in.flac >cut.flac
    head -c $(($(wc -c <in.wav) - 1000)) in.wav >cut.wav

    expect_ok "intact FLAC" -o ok.wav in.flac
    check_wav "intact FLAC" ok.wav 2 44100 200000
    for input in overwritten.flac cut.flac cut.wav; do expect_error "$input" -o out.wav $input; done
    cp ok.wav out.wav
    expect_error "over an earlier output" -o out.wav cut.flac
    if cmp -s ok.wav out.wav; then ok; else bad "the earlier output was changed"; fi
    # Streamed, what went out is gone, but the status tells.
    into_pipe streamed.wav -o - --plugin "$PLUGIN" cut.flac
    last_error_is "streamed" "cut.flac is damaged"
    ;;

signals)
    ulimit -c 0  # SIGQUIT, SIGXFSZ and the faults would leave a core file otherwise
    # A long render (an hour of tail at 16x), stopped once its temporary file
    # exists: the file is removed and the render ends by the signal. (Jobs a
    # non-interactive shell starts ignore SIGINT and SIGQUIT; env gives them back their defaults.)
    for pair in "HUP 129" "INT 130" "TERM 143" "PIPE 141" "QUIT 131" "USR1 138" "USR2 140" "ALRM 142" \
        "XCPU 152" "VTALRM 154" "PROF 155" "RTMIN 162"; do
        set -- $pair
        env --default-signal=INT,QUIT "$RENDER" --plugin "$PLUGIN" --set Oversmpl=1 --tail 3600 -o long.wav \
            >/dev/null 2>"$log/stderr.txt" &
        pid=$!
        wait_for $pid temp_of long.wav || bad "SIG$1: no temporary file appeared"
        stop_render "SIG$1" $pid "$1" "$2"
    done
    if [ ! -e long.wav ]; then ok; else bad "an output was left"; fi

    # Waiting for a FIFO's reader.
    mkfifo fifo
    "$RENDER" --plugin "$PLUGIN" -o fifo >/dev/null 2>"$log/stderr.txt" &
    pid=$!
    sleep 0.2
    stop_render "SIGTERM while waiting for a reader" $pid TERM 143

    # A hang-up the caller ignores (nohup) is ignored by the render too.
    (trap '' HUP && exec "$RENDER" --plugin "$PLUGIN" --set Oversmpl=1 --tail 3600 -o long.wav \
        >/dev/null 2>"$log/stderr.txt") &
    pid=$!
    wait_for $pid temp_of long.wav || bad "nohup: no temporary file appeared"
    kill -HUP $pid
    sleep 0.3
    if kill -0 $pid 2>/dev/null; then ok; else bad "nohup: the render ended on SIGHUP"; fi
    stop_render "SIGTERM after an ignored SIGHUP" $pid TERM 143

    # Past the file-size limit (ulimit -f, in 512-byte blocks): SIGXFSZ. The
    # earlier file stays as it was.
    echo old >big.wav
    (ulimit -f 200 && exec "$RENDER" --plugin "$PLUGIN" --tail 60 -o big.wav >/dev/null 2>"$log/stderr.txt")
    rc=$?
    if [ "$rc" -eq 153 ] && [ "$(wc -l <"$log/stderr.txt")" -eq 1 ]; then ok; echo "  SIGXFSZ: $(cat "$log/stderr.txt")"
    else bad "SIGXFSZ: exit $rc: $(cat "$log/stderr.txt")"; fi
    if [ "$(cat big.wav)" = old ]; then ok; else bad "SIGXFSZ: the earlier file was changed"; fi
    if ls ./*.?????? >/dev/null 2>&1; then bad "SIGXFSZ: left $(ls ./*.??????)"; else ok; fi

    # A plug-in that aborts: the process ends by SIGABRT, without its temporary file.
    echo old >crash.wav
    "$RENDER" --plugin "$ABORT" -o crash.wav >/dev/null 2>"$log/stderr.txt"
    rc=$?
    if [ "$rc" -eq 134 ]; then ok; else bad "abort: exit $rc: $(cat "$log/stderr.txt")"; fi
    if [ "$(cat crash.wav)" = old ]; then ok; else bad "abort: the earlier file was changed"; fi
    if ls ./*.?????? >/dev/null 2>&1; then bad "abort: left $(ls ./*.??????)"; else ok; fi

    # One or the other at the very end: SIGTERM after the last block keeps the
    # earlier file and ends the render by the signal; SIGTERM once the new file
    # is in place (here when the plug-in is closed) lets the render finish.
    echo old >end.wav
    "$RENDER" --plugin "$TERM_AT_STOP" -o end.wav >/dev/null 2>"$log/stderr.txt"
    rc=$?
    if [ "$rc" -eq 143 ] && [ "$(cat end.wav)" = old ]; then ok
    else bad "SIGTERM after the last block: exit $rc, end.wav $(head -c 4 end.wav)"; fi
    "$RENDER" --plugin "$TERM_AT_CLOSE" -o end.wav >/dev/null 2>"$log/stderr.txt"
    rc=$?
    if [ "$rc" -eq 0 ] && [ ! -s "$log/stderr.txt" ]; then ok
    else bad "SIGTERM after the new file is in place: exit $rc: $(cat "$log/stderr.txt")"; fi
    check_wav "SIGTERM after the new file is in place" end.wav 2 48000 any
    if ls ./*.?????? >/dev/null 2>&1; then bad "end: left $(ls ./*.??????)"; else ok; fi
    ;;

long-names)
    # Names up to the usual limit of 255 bytes: the temporary file beside
    # them must fit too.
    for length in 12 248 249 250 254 255; do
        name=$(printf "%0$((length - 4))d.wav" 0)
        "$RENDER" --plugin "$PASSTHROUGH" --tail 0.01 -o "$name" >/dev/null 2>"$log/stderr.txt"
        rc=$?
        if [ "$rc" -eq 0 ]; then ok; else bad "a name of $length bytes: exit $rc: $(cat "$log/stderr.txt")"; fi
        check_wav "a name of $length bytes" "$name" 2 48000 any
        # Over an existing file of that name, too.
        "$RENDER" --plugin "$PASSTHROUGH" --tail 0.01 -o "$name" >/dev/null 2>"$log/stderr.txt" && ok ||
            bad "over a name of $length bytes: $(cat "$log/stderr.txt")"
        rm -f "$name"
    done
    if [ -z "$(ls -A | grep -v '^log$')" ]; then ok; else bad "left $(ls -A)"; fi
    # One byte more is the system's refusal, in one line.
    expect_error "a name of 256 bytes" -o "$(printf "%0252d.wav" 0)"
    ;;

*)
    echo "unknown group $group"
    exit 2
    ;;
esac

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
