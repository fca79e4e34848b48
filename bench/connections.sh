#!/usr/bin/env bash
# Several connections against a slow site. The fixture gallery site answers every request after
# a latency (20 and 50 ms), as a gallery CGI behind a slow link does, and serves the bench member
# (2,000 pictures of 20 KB in 40 folders). Timed as whole processes, one after the other:
#   VantrelBackup --user bench with 1 and with 4 connections,
#   wget fetching the same URLs one at a time (every page and picture the program asked for),
#   aria2c -j 4 -i fetching the same picture URLs (handed the list, it fetches no pages).
# Then, at 0 ms, the program with 1 connection against BASELINE (an earlier build of the
# program, when given): one connection must cost nothing. Builds nothing: run scripts/build.sh
# first.
#
#   bash bench/connections.sh                          # LATENCIES="20 50", RUNS=1
#   LATENCIES= BASELINE=old/VantrelBackup bash bench/connections.sh   # only the 0 ms comparison
#   BASELINE=/path/to/old/VantrelBackup bash bench/connections.sh
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
PROGRAM=${PROGRAM:-$ROOT/build/VantrelBackup}
SITE=${GALLERYSITE:-$ROOT/build/tests/vantrel-gallery-site}
LATENCIES=${LATENCIES-20 50}
RUNS=${RUNS:-1}
ZERO_RUNS=${ZERO_RUNS:-9}
BASELINE=${BASELINE:-}
for tool in "$PROGRAM" "$SITE" wget aria2c /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "bench: $tool not found (scripts/setup.sh, scripts/build.sh)" >&2; exit 1; }
done

WORK=$(mktemp -d /tmp/vantrel-connections-bench-XXXXXX)
SITE_PID=""
stop_site() {
    if [ -n "$SITE_PID" ]; then kill -TERM "$SITE_PID" 2>/dev/null || true; wait "$SITE_PID" 2>/dev/null || true; fi
    SITE_PID=""
}
trap 'stop_site; rm -rf "$WORK"' EXIT
median() { sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
# The program's settings file is its own scratch copy's, so no stored setting counts.
mkdir -p "$WORK/bin" "$WORK/config"
cp "$PROGRAM" "$WORK/bin/VantrelBackup"
[ -z "$BASELINE" ] || cp "$BASELINE" "$WORK/bin/VantrelBackup-baseline"
export XDG_CONFIG_HOME="$WORK/config"

start_site() { # latency
    stop_site
    : >"$WORK/requests.log"
    "$SITE" --latency "$1" --log "$WORK/requests.log" >"$WORK/site.out" &
    SITE_PID=$!
    for _ in $(seq 3000); do [ -s "$WORK/site.out" ] && break; sleep 0.01; done
    PORT=$(head -1 "$WORK/site.out")
    [ -n "$PORT" ] || { echo "bench: the fixture site did not start" >&2; exit 1; }
    PROXY="127.0.0.1:$PORT"
}
seconds_since() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN {printf "%.3f\n", b - a}'; }
program_run() { # program [connections] -> seconds
    rm -rf "$WORK/copy"
    local start=$EPOCHREALTIME
    "$1" --user bench --dest "$WORK/copy/" --proxy "$PROXY" --pause 0 ${2:+--connections "$2"} >"$WORK/run.log" 2>&1 ||
        { echo "bench: $1 failed:" >&2; tail "$WORK/run.log" >&2; exit 1; }
    seconds_since "$start"
}
wget_run() {
    rm -rf "$WORK/wget"
    local start=$EPOCHREALTIME
    http_proxy="http://$PROXY" wget -q --no-http-keep-alive -i "$WORK/urls.txt" -P "$WORK/wget" ||
        { echo "bench: wget failed" >&2; exit 1; }
    seconds_since "$start"
}
aria2c_run() {
    rm -rf "$WORK/aria2c"
    local start=$EPOCHREALTIME
    aria2c -q -j 4 --all-proxy="http://$PROXY" --allow-overwrite=true -d "$WORK/aria2c" \
        -i "$WORK/pictures.txt" || { echo "bench: aria2c failed" >&2; exit 1; }
    seconds_since "$start"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

# The program's own requests, once, make the lists: every URL for wget, the pictures (with the
# path each is stored under) for aria2c.
start_site 0
program_run "$WORK/bin/VantrelBackup" 1 >/dev/null
cp "$WORK/requests.log" "$WORK/urls.txt"
grep -E '^http://[^/]+/gallery/.*[^/]$' "$WORK/urls.txt" |
    awk '{path = $0; sub(/^http:\/\/[^\/]+\//, "", path); print $0 "\n  out=" path}' >"$WORK/pictures.txt"
REQUESTS=$(wc -l <"$WORK/urls.txt")
PICTURES=$(grep -c '^http' "$WORK/pictures.txt")
FILES=$(find "$WORK/copy" -type f | wc -l)
[ "$FILES" -eq "$PICTURES" ] || { echo "bench: $FILES files stored for $PICTURES pictures" >&2; exit 1; }

echo "bench member: $PICTURES pictures of 20 KB, $REQUESTS requests with the listing pages"
for latency in $LATENCIES; do
    start_site "$latency"
    one=() four=() wg=() ar=()
    for _ in $(seq "$RUNS"); do
        four+=("$(program_run "$WORK/bin/VantrelBackup" 4)")
        ar+=("$(aria2c_run)")
        one+=("$(program_run "$WORK/bin/VantrelBackup" 1)")
        wg+=("$(wget_run)")
    done
    [ "$(find "$WORK/aria2c" -type f | wc -l)" -eq "$PICTURES" ] || { echo "bench: aria2c stored too few" >&2; exit 1; }
    ONE=$(printf '%s\n' "${one[@]}" | median)
    FOUR=$(printf '%s\n' "${four[@]}" | median)
    WGET=$(printf '%s\n' "${wg[@]}" | median)
    ARIA=$(printf '%s\n' "${ar[@]}" | median)
    echo "latency $latency ms per reply (median of $RUNS):"
    printf "  VantrelBackup, 1 connection   %8.2f s\n" "$ONE"
    printf "  VantrelBackup, 4 connections  %8.2f s\n" "$FOUR"
    printf "  wget, one at a time           %8.2f s\n" "$WGET"
    printf "  aria2c -j 4, pictures only    %8.2f s\n" "$ARIA"
    echo "  4 connections: $(ratio "$WGET" "$FOUR") x wget's speed (target >= 3), $(ratio "$FOUR" "$ARIA") x aria2c's time (target <= 1.25), $(ratio "$ONE" "$FOUR") x 1 connection's speed"
done

if [ -n "$BASELINE" ]; then
    # Wall time and CPU time (user + system) of each, taken in turns; the CPU time is the figure
    # that other load on the machine disturbs least.
    start_site 0
    cpu_run() { # program [connections] -> "wall cpu"
        rm -rf "$WORK/copy"
        local start=$EPOCHREALTIME
        /usr/bin/time -f "%U %S" -o "$WORK/cpu" "$1" --user bench --dest "$WORK/copy/" \
            --proxy "$PROXY" --pause 0 ${2:+--connections "$2"} >"$WORK/run.log" 2>&1 ||
            { echo "bench: $1 failed:" >&2; tail "$WORK/run.log" >&2; exit 1; }
        echo "$(seconds_since "$start") $(awk '{print $1 + $2}' "$WORK/cpu")"
    }
    : >"$WORK/now" && : >"$WORK/before"
    for i in $(seq "$ZERO_RUNS"); do
        if ((i % 2)); then
            cpu_run "$WORK/bin/VantrelBackup" 1 >>"$WORK/now"; cpu_run "$WORK/bin/VantrelBackup-baseline" >>"$WORK/before"
        else
            cpu_run "$WORK/bin/VantrelBackup-baseline" >>"$WORK/before"; cpu_run "$WORK/bin/VantrelBackup" 1 >>"$WORK/now"
        fi
    done
    echo "latency 0 ms, 1 connection against the baseline (median of $ZERO_RUNS, wall / CPU seconds):"
    for kind in now before; do
        printf "  %-10s %8.3f s wall  %8.3f s CPU\n" "$([ $kind = now ] && echo 'this build' || echo baseline)" \
            "$(cut -d' ' -f1 "$WORK/$kind" | median)" "$(cut -d' ' -f2 "$WORK/$kind" | median)"
    done
    printf "  ratio      %8s x wall  %8s x CPU (target <= 1.00 within noise)\n" \
        "$(ratio "$(cut -d' ' -f1 "$WORK/now" | median)" "$(cut -d' ' -f1 "$WORK/before" | median)")" \
        "$(ratio "$(cut -d' ' -f2 "$WORK/now" | median)" "$(cut -d' ' -f2 "$WORK/before" | median)")"
fi
