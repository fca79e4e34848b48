#!/usr/bin/env bash
# Times our HTTP client (bench/httpget, built into ./build) against curl and wget on loopback,
# measures its peak memory and the CPU it burns while waiting on a silent server, and prints
# one table with every figure and ratio. Builds nothing: run scripts/build.sh first.
#
#   bash bench/run.sh            # RUNS=10 timed runs per command (medians)
#   RUNS=3 bash bench/run.sh     # quicker
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
DRIVER=${HTTPGET:-$ROOT/build/bench/httpget}
FLOOR=${FLOORGET:-$ROOT/build/bench/floorget}
RUNS=${RUNS:-10}
PY=/usr/bin/python3
BULK_MB=256
SMALL_COUNT=500
SMALL_BYTES=20480

for tool in "$DRIVER" "$FLOOR" nginx curl wget /usr/bin/time "$PY"; do
    command -v "$tool" >/dev/null || { echo "bench: $tool not found (scripts/setup.sh, scripts/build.sh)" >&2; exit 1; }
done

WORK=$(mktemp -d /tmp/vantrel-bench-XXXXXX)
chmod 755 "$WORK" # nginx's worker runs as nobody
NGINX_PID=""
SILENT_PID=""
cleanup() {
    # Stopped by PID, each a direct child of this script.
    if [ -n "$NGINX_PID" ]; then kill -TERM "$NGINX_PID" 2>/dev/null || true; wait "$NGINX_PID" 2>/dev/null || true; fi
    if [ -n "$SILENT_PID" ]; then kill -TERM "$SILENT_PID" 2>/dev/null || true; wait "$SILENT_PID" 2>/dev/null || true; fi
    rm -rf "$WORK"
}
trap cleanup EXIT

free_port() { "$PY" -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
port_accepts() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
wait_port() { # port pid
    for _ in $(seq 500); do
        port_accepts "$1" && return 0
        kill -0 "$2" 2>/dev/null || return 1
        sleep 0.01
    done
    return 1
}
median() { sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

echo "bench: creating files in $WORK ..." >&2
mkdir -p "$WORK/www/small" "$WORK/logs" "$WORK/tmp" "$WORK/out"
head -c $((BULK_MB << 20)) /dev/urandom >"$WORK/www/bulk.bin"
head -c $((16 << 20)) /dev/urandom >"$WORK/www/m16.bin"
for i in $(seq -w 1 $SMALL_COUNT); do
    head -c $SMALL_BYTES /dev/urandom >"$WORK/www/small/f$i.bin"
done
chmod -R a+rX "$WORK/www"

start_nginx() {
    for _ in 1 2 3 4; do
        NGINX_PORT=$(free_port)
        cat >"$WORK/nginx.conf" <<EOF
daemon off;
worker_processes 1;
pid nginx.pid;
error_log logs/error.log warn;
events { worker_connections 64; }
http {
    access_log off;
    client_body_temp_path tmp/client; proxy_temp_path tmp/proxy; fastcgi_temp_path tmp/fastcgi;
    uwsgi_temp_path tmp/uwsgi; scgi_temp_path tmp/scgi;
    include /etc/nginx/mime.types; default_type application/octet-stream; sendfile on;
    server { listen 127.0.0.1:$NGINX_PORT; root $WORK/www; }
}
EOF
        nginx -p "$WORK/" -c nginx.conf -e logs/error.log &
        NGINX_PID=$!
        wait_port "$NGINX_PORT" "$NGINX_PID" && return 0
        kill -TERM "$NGINX_PID" 2>/dev/null || true; wait "$NGINX_PID" 2>/dev/null || true
        NGINX_PID=""
    done
    echo "bench: nginx did not start:" >&2; cat "$WORK/logs/error.log" >&2; exit 1
}

# A TCP server that accepts and never answers: the driver's wait on it must cost no CPU.
start_silent() {
    "$PY" -u -c '
import socket, sys, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(16)
print(s.getsockname()[1], flush=True)
held = []
while True:
    c, _ = s.accept(); held.append(c)
' >"$WORK/silent.port" &
    SILENT_PID=$!
    for _ in $(seq 500); do [ -s "$WORK/silent.port" ] && break; sleep 0.01; done
    SILENT_PORT=$(head -1 "$WORK/silent.port")
    wait_port "$SILENT_PORT" "$SILENT_PID" || { echo "bench: silent server did not start" >&2; exit 1; }
}

start_nginx
start_silent
BASE="http://127.0.0.1:$NGINX_PORT"
: >"$WORK/urls.txt"
for i in $(seq -w 1 $SMALL_COUNT); do echo "$BASE/small/f$i.bin" >>"$WORK/urls.txt"; done

# Wall time of one run of a command, in seconds, after its preparation (not timed). Output
# goes to a log: a failing command stops the benchmark with it.
time_once() { # prepare command
    eval "$1"
    local start=$EPOCHREALTIME
    if ! eval "$2" >"$WORK/run.log" 2>&1; then
        echo "bench: '$2' failed:" >&2; cat "$WORK/run.log" >&2; exit 1
    fi
    awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN {printf "%.6f\n", b - a}'
}

# Runs two commands in turns, RUNS times each after one warm-up of each, alternating which goes
# first, and prints both medians. Other work on a shared machine then weighs on both alike,
# where timing all runs of one command before the other would favour whichever ran calmer.
race() { # prepareA commandA prepareB commandB
    local a=() b=()
    time_once "$1" "$2" >/dev/null
    time_once "$3" "$4" >/dev/null
    for ((i = 0; i < RUNS; i++)); do
        if ((i % 2)); then
            b+=("$(time_once "$3" "$4")"); a+=("$(time_once "$1" "$2")")
        else
            a+=("$(time_once "$1" "$2")"); b+=("$(time_once "$3" "$4")")
        fi
    done
    echo "$(printf '%s\n' "${a[@]}" | median) $(printf '%s\n' "${b[@]}" | median)"
}

echo "bench: bulk $BULK_MB MB x $RUNS ..." >&2
read -r T_OURS T_CURL < <(race "rm -f $WORK/out/ours.bin" "$DRIVER $BASE/bulk.bin $WORK/out/ours.bin" \
    "rm -f $WORK/out/curl.bin" "curl -s -o $WORK/out/curl.bin $BASE/bulk.bin")
cmp -s "$WORK/www/bulk.bin" "$WORK/out/ours.bin" || { echo "bench: our copy of bulk.bin differs" >&2; exit 1; }

echo "bench: $SMALL_COUNT small files x $RUNS ..." >&2
# Four ways in turns (the order rotating every round): ours one Get after the other, ours
# through the side-by-side transfer one at a time, wget and the floor, a plain blocking C client
# with nothing but the calls a download needs. Each run writes into a fresh directory on tmpfs,
# made and the last one deleted before the clock starts: wget would number files it finds,
# overwriting costs more than creating, and a deletion on a disk between runs moves the figures
# by more than the differences measured here. Besides the whole process, ours and the floor
# report the time of their downloads alone: the start of a process that loads Qt costs some
# 10 ms more than that of a static C program, whatever the downloads cost.
SHM=$(mktemp -d "${TMPFS:-/dev/shm}/vantrel-bench-XXXXXX")
trap 'rm -rf "$SHM"; cleanup' EXIT
fresh() { echo "rm -rf $SHM/$1; mkdir $SHM/$1"; }
small=("$DRIVER --list $WORK/urls.txt $SHM/ours"
    "$DRIVER --transfers 1 --list $WORK/urls.txt $SHM/transfer"
    "wget -q --no-http-keep-alive -P $SHM/wget -i $WORK/urls.txt"
    "$FLOOR $WORK/urls.txt $SHM/floor")
small_names=(ours transfer wget floor)
declare -A small_times small_inner
# The downloads' own time, from the run's report: httpget's "cpu USER SYS ELAPSED" line, the
# floor's "N files in S s".
inner_time() { awk '/^cpu /{print $4} / files in /{print $4}' "$WORK/run.log"; }
for k in 0 1 2 3; do time_once "$(fresh ${small_names[$k]})" "${small[$k]}" >/dev/null; done
for ((i = 0; i < RUNS; i++)); do
    for j in 0 1 2 3; do
        k=$(((i + j) % 4))
        small_times[${small_names[$k]}]+="$(time_once "$(fresh ${small_names[$k]})" "${small[$k]}") "
        [ "${small_names[$k]}" = wget ] || small_inner[${small_names[$k]}]+="$(inner_time) "
    done
done
for name in ours transfer wget floor; do
    [ "$(ls "$SHM/$name" | wc -l)" -eq "$SMALL_COUNT" ] || { echo "bench: the $name run missed files" >&2; exit 1; }
    cmp -s "$WORK/www/small/f$SMALL_COUNT.bin" "$SHM/$name/f$SMALL_COUNT.bin" || { echo "bench: $name's small copy differs" >&2; exit 1; }
done
S_OURS=$(printf '%s\n' ${small_times[ours]} | median)
S_WGET=$(printf '%s\n' ${small_times[wget]} | median)
S_FLOOR=$(printf '%s\n' ${small_times[floor]} | median)
I_OURS=$(printf '%s\n' ${small_inner[ours]} | median)
I_TRANSFER=$(printf '%s\n' ${small_inner[transfer]} | median)
I_FLOOR=$(printf '%s\n' ${small_inner[floor]} | median)
# The ratios are the medians of each round's own: a round's runs are seconds apart, while the
# machine's pace drifts over the minute all rounds take.
paired() { # name -> median over the rounds of name's time / the floor's
    paste -d ' ' <(printf '%s\n' ${small_inner[$1]}) <(printf '%s\n' ${small_inner[floor]}) |
        awk '{print $1 / $2}' | median
}
R_OURS=$(paired ours)
R_TRANSFER=$(paired transfer)

echo "bench: peak memory ..." >&2
peak_kb() { # url
    for _ in 1 2 3 4 5; do
        /usr/bin/time -f %M -o "$WORK/time.txt" "$DRIVER" "$1" "$WORK/out/mem.bin" >/dev/null
        cat "$WORK/time.txt"
    done | median
}
M16=$(peak_kb "$BASE/m16.bin")
M256=$(peak_kb "$BASE/bulk.bin")

echo "bench: idle wait 5 s x 3 ..." >&2
# The driver reports the CPU it used during the Get alone (start-up excluded); /usr/bin/time
# gives the whole process for comparison.
IDLE_WAIT=()
IDLE_PROC=()
for _ in 1 2 3; do
    line=$(/usr/bin/time -f "%U %S" -o "$WORK/time.txt" "$DRIVER" --cancel-after 5 \
        "http://127.0.0.1:$SILENT_PORT/never" "$WORK/out/idle.bin" | grep '^cpu ')
    IDLE_WAIT+=("$(echo "$line" | awk '{print ($2+$3)/$4*100}')")
    IDLE_PROC+=("$(awk '{print ($1+$2)/5*100}' "$WORK/time.txt")")
done
CPU_WAIT=$(printf '%s\n' "${IDLE_WAIT[@]}" | median)
CPU_PROC=$(printf '%s\n' "${IDLE_PROC[@]}" | median)

awk -v tc="$T_CURL" -v to="$T_OURS" -v sw="$S_WGET" -v so="$S_OURS" -v sf="$S_FLOOR" -v n="$SMALL_COUNT" \
    -v io="$I_OURS" -v it="$I_TRANSFER" -v if_="$I_FLOOR" -v ro="$R_OURS" -v rt="$R_TRANSFER" \
    -v mb="$BULK_MB" -v m16="$M16" -v m256="$M256" -v cw="$CPU_WAIT" -v cp="$CPU_PROC" \
    -v runs="$RUNS" 'BEGIN {
    printf "\nVantrel HTTP client on loopback (nginx), medians of %d runs\n\n", runs
    printf "%-34s %12s %12s %8s %s\n", "measure", "ours", "reference", "ratio", "target"
    r = tc / to
    printf "%-34s %9.0f MB/s %7.0f MB/s %8.2f %s\n", "bulk " mb " MB vs curl -s -o", mb / to, mb / tc, r, (r >= 0.9 ? ">= 0.90 ok" : ">= 0.90 MISSED")
    r = sw / so
    printf "%-34s %8.0f f/s %8.0f f/s %8.2f %s\n", n " x 20 KB vs wget (no keep-alive)", n / so, n / sw, r, (r >= 1.0 ? ">= 1.00 ok" : ">= 1.00 MISSED")
    r = so / sf
    printf "%-34s %8.0f f/s %8.0f f/s %8.2f %s\n", n " x 20 KB vs the floor, process", n / so, n / sf, r, "(start-up included)"
    r = ro
    printf "%-34s %9.1f us %9.1f us %8.2f %s\n", "one 20 KB file vs the floor (Get)", io / n * 1e6, if_ / n * 1e6, r, (r <= 1.1 ? "<= 1.10 ok" : "<= 1.10 MISSED")
    r = rt
    printf "%-34s %9.1f us %9.1f us %8.2f %s\n", "  ... side-by-side transfer", it / n * 1e6, if_ / n * 1e6, r, (r <= 1.1 ? "<= 1.10 ok" : "<= 1.10 MISSED")
    d = m256 - m16
    printf "%-34s %9d KB %9d KB %+8d %s\n", "peak RSS 256 MB vs 16 MB file", m256, m16, d, (d <= 1024 && d >= -1024 ? "within 1024 KB ok" : "within 1024 KB MISSED")
    printf "%-34s %10.2f %% %10.2f %% %8s %s\n", "CPU waiting 5 s (wait / process)", cw, cp, "", (cw < 1 ? "< 1 % ok" : "< 1 % MISSED")
    printf "\n(one file: the ratio is the median of the ratios of each round;\n"
    printf " times: ours %.3f s vs curl %.3f s; list %.3f s vs wget %.3f s vs floor %.3f s;\n", to, tc, so, sw, sf
    printf " downloads alone: Get %.4f s, transfer %.4f s, floor %.4f s)\n", io, it, if_
}'
