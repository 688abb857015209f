#!/usr/bin/env bash
# One scenario of the window test: brumlis.exe and windowdriver.exe in a Wine virtual
# desktop on an X server of the test's own.
#
#   window-test.sh SCENARIO WINE-RUN PREFIX DRIVER.EXE BRUMLIS.EXE DATA-FOLDER
set -euo pipefail
[ $# -eq 6 ] || { sed -n '4,5s/^# \{0,1\}//p' "$0" >&2; exit 2; }
scenario=$1 wine_run=$2 prefix=$3 driver=$4 brumlis=$5 data=$6

work=$(mktemp -d)
xvfb=
cleanup() {
    if [ -n "$xvfb" ]; then
        kill "$xvfb" 2>/dev/null || true
        wait "$xvfb" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# Xvfb writes its display number to the pipe once it serves.
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
display=
read -r -t 30 display <"$work/display" || true
if [ -z "$display" ]; then
    echo "window-test: Xvfb did not start" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
export DISPLAY=:$display

# Under Wine the Unix root is drive Z:. The driver runs in the desktop it starts the
# program in, so it sees the program's windows; explorer ends with the desktop.
status=0
DISPLAY=:$display "$wine_run" --prefix "$prefix" explorer "/desktop=brumlis-$scenario,1024x768" \
    "Z:$driver" "$scenario" "Z:$brumlis" "Z:$data" "Z:$work/log" || status=$?
if [ ! -s "$work/log" ]; then
    echo "window-test: the driver wrote nothing (wine ended with $status)" >&2
    exit 1
fi
tr -d '\r' <"$work/log"
[ "$(tail -n 1 "$work/log" | tr -d '\r' | awk '{print $2}')" = PASS ]
