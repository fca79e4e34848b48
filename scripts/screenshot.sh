#!/usr/bin/env bash
# Starts the built program under a private Xvfb display, waits for its window and writes a PNG
# of the window to the file given as the only argument. Everything it starts it stops by PID.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:?usage: screenshot.sh OUT.png}
case "$out" in /*) ;; *) out="$PWD/$out" ;; esac
program="$PWD/build/VantrelBackup"
[ -x "$program" ] || { echo "build the program first (bash scripts/build.sh)" >&2; exit 1; }

work=$(mktemp -d)
xvfb_pid=""
app_pid=""
cleanup() {
    if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; wait "$app_pid" 2>/dev/null || true; fi
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$work/display.txt" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$work/display.txt" ] && break
    sleep 0.05
done
[ -s "$work/display.txt" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -1 "$work/display.txt")"
unset QT_QPA_PLATFORM

# Run from the work directory so that nothing the program writes lands in the tree.
(cd "$work" && exec "$program") >"$work/app.log" 2>&1 &
app_pid=$!
wid=$(timeout 15 xdotool search --sync --name 'Vantrel Backup' | head -1)
[ -n "$wid" ] || { echo "the window did not appear" >&2; cat "$work/app.log" >&2; exit 1; }
sleep 1 # let the first paint and the clock's first tick happen
eval "$(xdotool getwindowgeometry --shell "$wid")"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out"
echo "wrote $out"
