#!/bin/sh
# Qtractor's plug-in scanner reads our .clap file as Qtractor will: one line
#   CLAP|name|audio in:out|midi in:out|params in:out|flags|path|index|hash
# with our name, two inputs and two outputs, the seven parameters and the
# editor flag. Skipped (exit 77) where Qtractor is not installed.
#   qtractor-scan.sh PATH/KorvaneZ5R.clap
set -u
scanner=${QTRACTOR_PLUGIN_SCAN:-/usr/lib/x86_64-linux-gnu/qtractor/qtractor_plugin_scan}
if [ ! -x "$scanner" ]; then
    echo "qtractor-scan.sh: no $scanner (Debian package qtractor): skipped"
    exit 77
fi
file=$(readlink -f "$1")
line=$(echo "CLAP:$file" | QT_QPA_PLATFORM=offscreen "$scanner" 2>/dev/null | grep '^CLAP|')
echo "$line"
[ -n "$line" ] || { echo "qtractor-scan.sh: the scanner printed nothing for $file" >&2; exit 1; }
status=0
check() {
    got=$(echo "$line" | cut -d'|' -f"$1")
    case "$got" in
    $2) ;;
    *) echo "qtractor-scan.sh: field $1 is '$got', expected '$2'" >&2; status=1 ;;
    esac
}
check 2 "Korvane Z5R"
check 3 "2:2"
check 4 "0:0"
check 5 "7:0"
check 6 "*GUI*"
check 7 "$file"
exit $status
