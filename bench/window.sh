#!/usr/bin/env bash
# What the progress at the end of the status line costs: the real window, offscreen
# (bench/windowbackup), runs Get by User of the bench member (2,000 pictures of 20 KB in 40
# folders, from the fixture gallery site on loopback) with the progress drawn ten times a second
# and with it left undrawn, in alternating order, each run into a fresh directory on tmpfs.
# Prints the medians and their ratio. Builds nothing: run scripts/build.sh first.
#
# On a shared or busy machine the times scatter by more than the cost; CALLGRIND=1 adds the
# instructions each way counted by valgrind on a member of 200 pictures, where the redraw
# interval is stretched to match the job's slowdown under valgrind (same redraws per file).
#
#   bash bench/window.sh           # RUNS=9 pairs (medians)
#   CALLGRIND=1 bash bench/window.sh
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
DRIVER=${WINDOWBACKUP:-$ROOT/build/bench/windowbackup}
SITE=${GALLERYSITE:-$ROOT/build/tests/vantrel-gallery-site}
RUNS=${RUNS:-9}
for tool in "$DRIVER" "$SITE"; do
    command -v "$tool" >/dev/null || { echo "bench: $tool not found (scripts/build.sh)" >&2; exit 1; }
done

SHM=/dev/shm
[ -w "$SHM" ] || SHM=${TMPDIR:-/tmp}
WORK=$(mktemp -d "$SHM/vantrel-window-bench-XXXXXX")
SITE_PID=""
cleanup() {
    if [ -n "$SITE_PID" ]; then kill -TERM "$SITE_PID" 2>/dev/null || true; wait "$SITE_PID" 2>/dev/null || true; fi
    rm -rf "$WORK"
}
trap cleanup EXIT
median() { sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

"$SITE" --bench 40 50 20480 >"$WORK/site.out" &
SITE_PID=$!
for _ in $(seq 500); do [ -s "$WORK/site.out" ] && break; sleep 0.01; done
PORT=$(head -1 "$WORK/site.out")
[ -n "$PORT" ] || { echo "bench: the fixture site did not start" >&2; exit 1; }

window_run() { # [--no-bar] -> "seconds cpu-seconds"
    local dest
    dest=$(mktemp -d "$WORK/run-XXXXXX")
    "$DRIVER" --proxy "127.0.0.1:$PORT" --dest "$dest/" --user bench "$@" >"$WORK/job.log" 2>&1 ||
        { echo "bench: the window's job failed:" >&2; tail "$WORK/job.log" >&2; exit 1; }
    sed -n 's/^job: \([0-9.]*\) s, cpu \([0-9.]*\) s.*/\1 \2/p' "$WORK/job.log"
}

window_run >/dev/null # warms the site and the page cache
with=() without=()
for i in $(seq "$RUNS"); do
    if ((i % 2)); then
        with+=("$(window_run)"); without+=("$(window_run --no-bar)")
    else
        without+=("$(window_run --no-bar)"); with+=("$(window_run)")
    fi
done
column() { printf '%s\n' "$@" | cut -d' ' -f"$N" | median; }
N=1 WITH=$(N=1 column "${with[@]}") WITHOUT=$(N=1 column "${without[@]}")
CPU_WITH=$(N=2 column "${with[@]}") CPU_WITHOUT=$(N=2 column "${without[@]}")
cost() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%+.1f %%", (a/b - 1) * 100}'; }

echo "window Get by User (bench member, $(sed -n 's/^job: [0-9.]* s, cpu [0-9.]* s, //p' "$WORK/job.log")), medians of $RUNS pairs"
printf "                      wall       cpu (user + system)\n"
printf "  progress drawn      %6.3f s   %6.3f s\n" "$WITH" "$CPU_WITH"
printf "  progress undrawn    %6.3f s   %6.3f s\n" "$WITHOUT" "$CPU_WITHOUT"
printf "  cost                %8s   %8s   (target <= 3 %%)\n" "$(cost "$WITH" "$WITHOUT")" "$(cost "$CPU_WITH" "$CPU_WITHOUT")"

if [ "${CALLGRIND:-0}" = 1 ] && command -v valgrind >/dev/null; then
    kill -TERM "$SITE_PID"; wait "$SITE_PID" 2>/dev/null || true
    "$SITE" --bench 4 50 20480 >"$WORK/site.out" &
    SITE_PID=$!
    for _ in $(seq 500); do [ -s "$WORK/site.out" ] && [ "$(head -1 "$WORK/site.out")" != "$PORT" ] && break; sleep 0.01; done
    PORT=$(head -1 "$WORK/site.out")
    counted() { # options -> instructions
        local dest
        dest=$(mktemp -d "$WORK/run-XXXXXX")
        valgrind --tool=callgrind --callgrind-out-file=/dev/null "$DRIVER" --proxy "127.0.0.1:$PORT" \
            --dest "$dest/" --user bench "$@" 2>&1 | sed -n 's/.*I *refs: *//p' | tr -d ,
    }
    DRAWN=$(counted --redraw 4000) UNDRAWN=$(counted --no-bar)
    printf "  instructions (200 pictures, valgrind): drawn %s, undrawn %s, cost %s\n" "$DRAWN" "$UNDRAWN" "$(cost "$DRAWN" "$UNDRAWN")"
fi
