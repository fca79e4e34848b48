#!/usr/bin/env bash
# --update over the unchanged bench member (2,000 pictures of 20 KB in 40 folders, each sent
# with a Last-Modified date; the fixture site answers If-Modified-Since with 304) against
# "wget -N" on the same URLs (every page and picture the program asks for) after wget's own first
# run. Whole processes, alternating runs, at 0 ms a reply with one connection and at 20 ms a
# reply with one and with four. Builds nothing: run scripts/build.sh first.
#
#   bash bench/update.sh            # RUNS=5
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
PROGRAM=${PROGRAM:-$ROOT/build/VantrelBackup}
SITE=${GALLERYSITE:-$ROOT/build/tests/vantrel-gallery-site}
RUNS=${RUNS:-5}
for tool in "$PROGRAM" "$SITE" wget; do
    command -v "$tool" >/dev/null || { echo "bench: $tool not found (scripts/setup.sh, scripts/build.sh)" >&2; exit 1; }
done

WORK=$(mktemp -d /tmp/vantrel-update-bench-XXXXXX)
SITE_PID=""
stop_site() {
    if [ -n "$SITE_PID" ]; then kill -TERM "$SITE_PID" 2>/dev/null || true; wait "$SITE_PID" 2>/dev/null || true; fi
    SITE_PID=""
}
trap 'stop_site; rm -rf "$WORK"' EXIT
median() { sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
seconds_since() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN {printf "%.3f\n", b - a}'; }
mkdir -p "$WORK/config"
export XDG_CONFIG_HOME="$WORK/config" # no stored setting counts

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
program_run() { # connections [--update] -> seconds
    local start=$EPOCHREALTIME
    "$PROGRAM" --user bench --dest "$WORK/copy/" --proxy "$PROXY" --pause 0 --connections "$1" \
        ${2:-} >"$WORK/run.log" 2>&1 || { echo "bench: the program failed:" >&2; tail "$WORK/run.log" >&2; exit 1; }
    seconds_since "$start"
}
wget_run() {
    local start=$EPOCHREALTIME
    http_proxy="http://$PROXY" wget -q -N -x --no-http-keep-alive -i "$WORK/urls.txt" -P "$WORK/wget" ||
        { echo "bench: wget failed" >&2; exit 1; }
    seconds_since "$start"
}

# The first copies: the program's, whose requests make wget's list, then wget's own.
start_site 0
program_run 1 >/dev/null
cp "$WORK/requests.log" "$WORK/urls.txt"
wget_run >/dev/null
start_site 0
program_run 1 --update >/dev/null
grep -q "Summary: 0 fetched, 2000 skipped because present, 0 failed;" "$WORK/run.log" ||
    { echo "bench: the update did not find the copy unchanged:" >&2; tail -1 "$WORK/run.log" >&2; exit 1; }
NOT_MODIFIED=$(grep -c '' "$WORK/requests.log")
echo "bench member: 2,000 pictures of 20 KB, $(wc -l <"$WORK/urls.txt") requests in all; an update asks $NOT_MODIFIED"

for setting in "0 1" "20 1" "20 4"; do
    set -- $setting
    start_site "$1"
    ours=() theirs=()
    for _ in $(seq "$RUNS"); do
        ours+=("$(program_run "$2" --update)")
        theirs+=("$(wget_run)")
    done
    O=$(printf '%s\n' "${ours[@]}" | median)
    W=$(printf '%s\n' "${theirs[@]}" | median)
    echo "latency $1 ms, $2 connection(s): --update $O s, wget -N $W s (medians of $RUNS); wget / ours = $(ratio "$W" "$O")"
done
