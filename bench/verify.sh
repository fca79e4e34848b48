#!/usr/bin/env bash
# Times --verify against "sha256sum -c .vantrel/SHA256SUMS" on two copies: the bench member
# (2,000 pictures of 20 KB, mirrored by the program from the fixture site on loopback) and ten
# files of 100 MB (recorded by bench/recordtree). Whole processes, alternating runs, on tmpfs
# (/dev/shm). With BASELINE set to an earlier VantrelBackup it also times a plain mirror of the
# bench member by both builds, each into a fresh directory. Builds nothing: run scripts/build.sh
# first.
#
#   bash bench/verify.sh                       # RUNS=5 timed runs per command
#   BASELINE=/path/to/old/VantrelBackup bash bench/verify.sh
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
PROGRAM=${VANTRELBACKUP:-$ROOT/build/VantrelBackup}
SITE=${GALLERYSITE:-$ROOT/build/tests/vantrel-gallery-site}
RECORDTREE=${RECORDTREE:-$ROOT/build/bench/recordtree}
RUNS=${RUNS:-5}
for tool in "$PROGRAM" "$SITE" "$RECORDTREE" sha256sum; do
    command -v "$tool" >/dev/null || { echo "bench: $tool not found" >&2; exit 1; }
done
if grep -qw sha_ni /proc/cpuinfo; then echo "processor: has SHA instructions (sha_ni)";
else echo "processor: no SHA instructions (sha_ni missing): libcrypto and sha256sum hash in software"; fi

WORK=$(mktemp -d /dev/shm/vantrel-verify-bench-XXXXXX)
SITE_PID=""
cleanup() {
    if [ -n "$SITE_PID" ]; then kill -TERM "$SITE_PID" 2>/dev/null || true; wait "$SITE_PID" 2>/dev/null || true; fi
    rm -rf "$WORK"
}
trap cleanup EXIT
stats() { sort -g | awk '{v[NR]=$1} END {m=(NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2; printf "%.3f %.3f %.3f", m, v[1], v[NR]}'; }
timed() { local start=$EPOCHREALTIME; "$@" >/dev/null 2>&1 || true; awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN {printf "%.6f\n", b - a}'; }

"$SITE" --bench 40 50 20480 >"$WORK/site.out" &
SITE_PID=$!
for _ in $(seq 500); do [ -s "$WORK/site.out" ] && break; sleep 0.01; done
PROXY="127.0.0.1:$(head -1 "$WORK/site.out")"
export XDG_CONFIG_HOME="$WORK/config"
mkdir -p "$XDG_CONFIG_HOME"
mirror() { "$1" --user bench --dest "$2/" --proxy "$PROXY" --site A --pause 0; }

mirror "$PROGRAM" "$WORK/member" >/dev/null
mkdir -p "$WORK/large"
for i in $(seq 10); do head -c 100000000 /dev/urandom >"$WORK/large/part$i.bin"; done
"$RECORDTREE" "$WORK/large"

compare() { # name dir
    local ours=() theirs=()
    for _ in $(seq "$RUNS"); do
        ours+=("$(timed "$PROGRAM" --verify --dest "$2")")
        theirs+=("$(cd "$2" && timed sha256sum --quiet -c .vantrel/SHA256SUMS)")
    done
    local o t
    o=$(printf '%s\n' "${ours[@]}" | stats)
    t=$(printf '%s\n' "${theirs[@]}" | stats)
    echo "$1: --verify $o s, sha256sum -c $t s (median min max); sha256sum / ours = $(awk -v a="${o%% *}" -v b="${t%% *}" 'BEGIN {printf "%.2f", b / a}')"
}
compare "bench member (2,000 x 20 KB)" "$WORK/member"
compare "10 x 100 MB" "$WORK/large"

if [ -n "${BASELINE:-}" ]; then
    ours=() theirs=()
    for run in $(seq "$RUNS"); do
        ours+=("$(timed mirror "$PROGRAM" "$WORK/new$run")")
        theirs+=("$(timed mirror "$BASELINE" "$WORK/old$run")")
    done
    o=$(printf '%s\n' "${ours[@]}" | stats)
    t=$(printf '%s\n' "${theirs[@]}" | stats)
    echo "plain mirror: this build $o s, baseline $t s; ours / baseline = $(awk -v a="${o%% *}" -v b="${t%% *}" 'BEGIN {printf "%.3f", a / b}')"
fi
