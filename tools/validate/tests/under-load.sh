#!/bin/sh
# under-load.sh COMMAND...: runs COMMAND with a busy loop beside it on every
# processor, as on a shared machine with other work running, and ends the
# loops afterwards. COMMAND's status is the script's.
set -u
hogs=""
n=$(getconf _NPROCESSORS_ONLN 2>/dev/null || echo 2)
i=0
while [ "$i" -lt "$n" ]; do
    sh -c 'while :; do :; done' &
    hogs="$hogs $!"
    i=$((i + 1))
done
trap 'kill $hogs 2>/dev/null' EXIT INT TERM
"$@"
