#!/usr/bin/env bash
# Times the gallery engine (bench/gallerybackup, the real engine with a console host, pause off)
# backing up a generated member of 2,000 pictures of 20 KB in 40 folders with next pages from the
# fixture gallery site on loopback, against wget fetching exactly the same URLs (every page and
# picture the engine asked for, taken from the site's request log) through the same proxy into a
# flat directory. Also the engine's peak memory on the member with 2,000 listing pages. Builds
# nothing: run scripts/build.sh first.
#
#   bash bench/gallery.sh           # RUNS=5 timed runs per command (medians)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
DRIVER=${GALLERYBACKUP:-$ROOT/build/bench/gallerybackup}
SITE=${GALLERYSITE:-$ROOT/build/tests/vantrel-gallery-site}
RUNS=${RUNS:-5}
for tool in "$DRIVER" "$SITE" wget /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "bench: $tool not found (scripts/setup.sh, scripts/build.sh)" >&2; exit 1; }
done

WORK=$(mktemp -d /tmp/vantrel-gallery-bench-XXXXXX)
SITE_PID=""
cleanup() {
    if [ -n "$SITE_PID" ]; then kill -TERM "$SITE_PID" 2>/dev/null || true; wait "$SITE_PID" 2>/dev/null || true; fi
    rm -rf "$WORK"
}
trap cleanup EXIT
median() { sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

"$SITE" --bench 40 50 20480 --log "$WORK/requests.log" >"$WORK/site.out" &
SITE_PID=$!
for _ in $(seq 500); do [ -s "$WORK/site.out" ] && break; sleep 0.01; done
PORT=$(head -1 "$WORK/site.out")
[ -n "$PORT" ] || { echo "bench: the fixture site did not start" >&2; exit 1; }
PROXY="127.0.0.1:$PORT"

engine_run() { # destination -> seconds
    local start=$EPOCHREALTIME
    "$DRIVER" --proxy "$PROXY" --dest "$1/" --user bench >"$WORK/engine.log" 2>&1 ||
        { echo "bench: the engine failed:" >&2; tail "$WORK/engine.log" >&2; exit 1; }
    awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN {printf "%.6f\n", b - a}'
}
wget_run() { # directory -> seconds
    local start=$EPOCHREALTIME
    http_proxy="http://$PROXY" wget -q --no-http-keep-alive -i "$WORK/urls.txt" -P "$1" ||
        { echo "bench: wget failed" >&2; exit 1; }
    awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN {printf "%.6f\n", b - a}'
}

# The engine's own requests, once, make the list wget fetches.
mkdir -p "$WORK/first"
: >"$WORK/requests.log"
engine_run "$WORK/first" >/dev/null
cp "$WORK/requests.log" "$WORK/urls.txt"
REQUESTS=$(wc -l <"$WORK/urls.txt")
PICTURES=$(find "$WORK/first" -type f | wc -l)
BYTES=$(du -sb "$WORK/first" | cut -f1)
rm -rf "$WORK/first"

engine_times=() wget_times=()
for i in $(seq "$RUNS"); do
    rm -rf "$WORK/e" "$WORK/w"; mkdir -p "$WORK/e"
    if ((i % 2)); then
        engine_times+=("$(engine_run "$WORK/e")"); wget_times+=("$(wget_run "$WORK/w")")
    else
        wget_times+=("$(wget_run "$WORK/w")"); engine_times+=("$(engine_run "$WORK/e")")
    fi
done
ENGINE=$(printf '%s\n' "${engine_times[@]}" | median)
WGET=$(printf '%s\n' "${wget_times[@]}" | median)

# Peak memory of one Get by User over 2,000 nested listing pages.
mkdir -p "$WORK/long"
/usr/bin/time -f "%M" -o "$WORK/long.mem" "$DRIVER" --proxy "$PROXY" --dest "$WORK/long/" --user longlist >"$WORK/long.log" 2>&1 ||
    { echo "bench: the long listing failed" >&2; tail "$WORK/long.log" >&2; exit 1; }
/usr/bin/time -f "%M" -o "$WORK/bench.mem" "$DRIVER" --proxy "$PROXY" --dest "$WORK/e/" --user bench >/dev/null 2>&1

echo "gallery backup: $PICTURES pictures, $BYTES bytes, $REQUESTS requests, medians of $RUNS runs"
printf "  engine   %8.3f s  %7.0f requests/s\n" "$ENGINE" "$(awk -v n="$REQUESTS" -v t="$ENGINE" 'BEGIN{print n/t}')"
printf "  wget     %8.3f s  %7.0f requests/s\n" "$WGET" "$(awk -v n="$REQUESTS" -v t="$WGET" 'BEGIN{print n/t}')"
printf "  ratio    %8.2f x wget's rate (target >= 0.90)\n" "$(awk -v a="$WGET" -v b="$ENGINE" 'BEGIN{print a/b}')"
echo "  peak memory: $(cat "$WORK/long.mem") KB on 2,000 nested listing pages; $(cat "$WORK/bench.mem") KB on the second run over the bench member"
