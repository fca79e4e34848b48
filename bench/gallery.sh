#!/usr/bin/env bash
# Times a gallery backup of a generated member (2,000 pictures of 20 KB in 40 folders, with
# next pages of both kinds) from the fixture gallery site on loopback, three ways: the engine
# driver (bench/gallerybackup, the real engine with a console host), the real program run
# headless (VantrelBackup --user bench, pause off), and wget fetching exactly the same URLs
# (every page and picture the engine asked for, from the site's request log) through the same
# proxy into a flat directory. Every timed run writes into a fresh directory on tmpfs
# (/dev/shm) and nothing is deleted until all runs are over: deleting a tree just before a run
# slows whichever tool writes next, which measures the file system, not the client. The runs
# take turns, and the fixture site's own CPU time is printed per run, since it shares the
# machine with the client. Also the engine's peak memory on the member with 2,000 listing
# pages. Builds nothing: run scripts/build.sh first.
#
#   bash bench/gallery.sh           # RUNS=9 timed runs per command (median, min and max)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
DRIVER=${GALLERYBACKUP:-$ROOT/build/bench/gallerybackup}
PROGRAM=${VANTRELBACKUP:-$ROOT/build/VantrelBackup}
SITE=${GALLERYSITE:-$ROOT/build/tests/vantrel-gallery-site}
RUNS=${RUNS:-9}
for tool in "$DRIVER" "$PROGRAM" "$SITE" wget /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "bench: $tool not found (scripts/setup.sh, scripts/build.sh)" >&2; exit 1; }
done
[ -d /dev/shm ] && [ -w /dev/shm ] || { echo "bench: /dev/shm is not a writable tmpfs" >&2; exit 1; }

WORK=$(mktemp -d /dev/shm/vantrel-gallery-bench-XXXXXX)
SITE_PID=""
cleanup() {
    if [ -n "$SITE_PID" ]; then kill -TERM "$SITE_PID" 2>/dev/null || true; wait "$SITE_PID" 2>/dev/null || true; fi
    rm -rf "$WORK"
}
trap cleanup EXIT
stats() { # numbers on stdin -> "median min max"
    sort -g | awk '{v[NR]=$1} END {m=(NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2; print m, v[1], v[NR]}'
}

"$SITE" --bench 40 50 20480 --log "$WORK/requests.log" >"$WORK/site.out" &
SITE_PID=$!
for _ in $(seq 500); do [ -s "$WORK/site.out" ] && break; sleep 0.01; done
PORT=$(head -1 "$WORK/site.out")
[ -n "$PORT" ] || { echo "bench: the fixture site did not start" >&2; exit 1; }
PROXY="127.0.0.1:$PORT"
TICKS=$(getconf CLK_TCK)
site_cpu() { awk -v t="$TICKS" '{print ($14 + $15) / t}' "/proc/$SITE_PID/stat"; }
# The real program's settings come from an empty place of their own; the options say the rest.
export XDG_CONFIG_HOME="$WORK/config"
mkdir -p "$XDG_CONFIG_HOME"

run_engine() { "$DRIVER" --proxy "$PROXY" --dest "$1/" --user bench; }
run_program() { "$PROGRAM" --user bench --dest "$1/" --proxy "$PROXY" --site A --pause 0; }
run_wget() { http_proxy="http://$PROXY" wget -q --no-http-keep-alive -i "$WORK/urls.txt" -P "$1"; }
timed() { # tool directory -> "wall-seconds site-cpu-seconds"
    local before start
    before=$(site_cpu)
    start=$EPOCHREALTIME
    "run_$1" "$2" >"$WORK/$1.log" 2>&1 || { echo "bench: $1 failed:" >&2; tail "$WORK/$1.log" >&2; exit 1; }
    awk -v a="$start" -v b="$EPOCHREALTIME" -v c="$before" -v d="$(site_cpu)" \
        'BEGIN {printf "%.6f %.6f\n", b - a, d - c}'
}

# The engine's own requests, once, make the list wget fetches.
: >"$WORK/requests.log"
run_engine "$WORK/first" >/dev/null 2>&1
cp "$WORK/requests.log" "$WORK/urls.txt"
REQUESTS=$(wc -l <"$WORK/urls.txt")
PICTURES=$(find "$WORK/first" -type f | wc -l)
BYTES=$(du -sb "$WORK/first" | cut -f1)

mkdir -p "$WORK/runs"
tools=(engine program wget)
declare -A wall cpu
for i in $(seq "$RUNS"); do
    for k in 0 1 2; do
        tool=${tools[$(((i + k) % 3))]}
        read -r w c < <(timed "$tool" "$WORK/runs/$tool-$i")
        wall[$tool]+="$w "; cpu[$tool]+="$c "
    done
done

echo "gallery backup: $PICTURES pictures, $BYTES bytes, $REQUESTS requests; $RUNS runs each into fresh directories on /dev/shm"
echo "                 median s   (min - max)       requests/s   site cpu s/run   ratio to wget"
read -r WGET _ _ < <(printf '%s\n' ${wall[wget]} | stats)
for tool in "${tools[@]}"; do
    read -r med lo hi < <(printf '%s\n' ${wall[$tool]} | stats)
    read -r sc _ _ < <(printf '%s\n' ${cpu[$tool]} | stats)
    printf "  %-8s %9.3f   (%6.3f - %6.3f)  %9.0f   %10.3f   %12.2f x\n" "$tool" "$med" "$lo" "$hi" \
        "$(awk -v n="$REQUESTS" -v t="$med" 'BEGIN{print n/t}')" "$sc" \
        "$(awk -v a="$WGET" -v b="$med" 'BEGIN{print a/b}')"
done
echo "  ratio = wget's median time / the tool's (target >= 1.0 for engine and program)"

# Peak memory of one Get by User over 2,000 nested listing pages, and of a second run over the
# bench member (every picture present).
/usr/bin/time -f "%M" -o "$WORK/long.mem" "$DRIVER" --proxy "$PROXY" --dest "$WORK/long/" --user longlist >"$WORK/long.log" 2>&1 ||
    { echo "bench: the long listing failed" >&2; tail "$WORK/long.log" >&2; exit 1; }
/usr/bin/time -f "%M" -o "$WORK/bench.mem" "$DRIVER" --proxy "$PROXY" --dest "$WORK/first/" --user bench >/dev/null 2>&1
echo "  peak memory: $(cat "$WORK/long.mem") KB on 2,000 nested listing pages; $(cat "$WORK/bench.mem") KB on the second run over the bench member"
