#!/usr/bin/env bash
# Times our FTP client (bench/ftpget, built into ./build) against lftp and wget, all in active
# mode on loopback against vsftpd: one directory of many small files, listed and fetched into an
# empty directory, the way the instruction-scan job mirrors a set. Prints the medians and the
# ratio against the faster of the two. Builds nothing: run scripts/build.sh first.
#
#   bash bench/ftp.sh              # RUNS=10 timed runs per command (medians)
#   RUNS=3 COUNT=50 bash bench/ftp.sh
#   MODE=passive bash bench/ftp.sh # all three in passive mode ("PASV")
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
DRIVER=${FTPGET:-$ROOT/build/bench/ftpget}
RUNS=${RUNS:-10}
COUNT=${COUNT:-200}
MODE=${MODE:-active}
SIZE=${SIZE:-102400}
PY=/usr/bin/python3

for tool in "$DRIVER" vsftpd lftp wget "$PY"; do
    command -v "$tool" >/dev/null || [ -x "/usr/sbin/$tool" ] ||
        { echo "bench: $tool not found (scripts/setup.sh, scripts/build.sh)" >&2; exit 1; }
done
VSFTPD=$(command -v vsftpd || echo /usr/sbin/vsftpd)

WORK=$(mktemp -d /tmp/vantrel-ftpbench-XXXXXX)
chmod 755 "$WORK" # the FTP sessions run as the user ftp
VSFTPD_PID=""
cleanup() {
    # Stopped by PID, a direct child of this script. Its sessions end with their clients.
    if [ -n "$VSFTPD_PID" ]; then kill -TERM "$VSFTPD_PID" 2>/dev/null || true; wait "$VSFTPD_PID" 2>/dev/null || true; fi
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

echo "bench: creating $COUNT files of $SIZE bytes in $WORK ..." >&2
SET=pub/brick/scans/08000/8436
mkdir -p "$WORK/root/$SET" "$WORK/empty" "$WORK/out"
for i in $(seq -w 1 "$COUNT"); do
    head -c "$SIZE" /dev/urandom >"$WORK/root/$SET/8436_$i.pdf"
done
chmod -R a+rX "$WORK/root"

start_vsftpd() {
    for _ in 1 2 3 4; do
        PORT=$(free_port)
        cat >"$WORK/vsftpd.conf" <<EOF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$PORT
background=NO
anonymous_enable=YES
local_enable=NO
write_enable=NO
anon_root=$WORK/root
secure_chroot_dir=$WORK/empty
port_enable=YES
connect_from_port_20=NO
seccomp_sandbox=NO
hide_ids=YES
use_localtime=NO
max_clients=0
max_per_ip=0
EOF
        "$VSFTPD" "$WORK/vsftpd.conf" >"$WORK/vsftpd.out" 2>&1 &
        VSFTPD_PID=$!
        wait_port "$PORT" "$VSFTPD_PID" && return 0
        kill -TERM "$VSFTPD_PID" 2>/dev/null || true; wait "$VSFTPD_PID" 2>/dev/null || true
        VSFTPD_PID=""
    done
    echo "bench: vsftpd did not start:" >&2; cat "$WORK/vsftpd.out" >&2; exit 1
}
start_vsftpd

case $MODE in
active) PASSIVE=off; WGET_MODE=--no-passive-ftp ;;
passive) PASSIVE=on; WGET_MODE="" ;;
*) echo "bench: MODE is active or passive" >&2; exit 2 ;;
esac
OURS="$DRIVER --mode $MODE 127.0.0.1 $PORT /pub/brick//scans/08000/8436/ $WORK/out/ours"
LFTP="lftp -e 'set ftp:passive-mode $PASSIVE; set cmd:fail-exit yes; mget -O $WORK/out/lftp *; quit' -u anonymous,bench ftp://127.0.0.1:$PORT/$SET/"
WGET="wget -q $WGET_MODE -r -nH --cut-dirs=5 -P $WORK/out/wget ftp://127.0.0.1:$PORT/$SET/"
# Each starts in an empty directory (lftp's mget wants it to exist): overwriting costs the file
# system more than creating, and wget would number files it finds.
PREP_OURS="rm -rf $WORK/out/ours"
PREP_LFTP="rm -rf $WORK/out/lftp; mkdir -p $WORK/out/lftp"
PREP_WGET="rm -rf $WORK/out/wget"

# Wall time of one run of a command, in seconds, after its preparation (not timed). A failing
# command stops the benchmark with its output.
time_once() { # prepare command
    eval "$1"
    local start=$EPOCHREALTIME
    if ! eval "$2" >"$WORK/run.log" 2>&1; then
        echo "bench: '$2' failed:" >&2; cat "$WORK/run.log" >&2; exit 1
    fi
    awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN {printf "%.6f\n", b - a}'
}

check_copy() { # directory name
    local n
    n=$(find "$1" -type f -name '8436_*.pdf' | wc -l)
    [ "$n" -eq "$COUNT" ] || { echo "bench: $2 stored $n of $COUNT files" >&2; exit 1; }
    for f in "$WORK/root/$SET"/8436_*.pdf; do
        cmp -s "$f" "$1/$(basename "$f")" || { echo "bench: $2's copy of $(basename "$f") differs" >&2; exit 1; }
    done
}

# One warm-up each, then RUNS rounds; the order rotates every round, so that other work on a
# shared machine weighs on all three alike.
echo "bench: $COUNT x $SIZE bytes, $RUNS rounds ..." >&2
names=(ours lftp wget)
preps=("$PREP_OURS" "$PREP_LFTP" "$PREP_WGET")
cmds=("$OURS" "$LFTP" "$WGET")
declare -A times
for k in 0 1 2; do time_once "${preps[$k]}" "${cmds[$k]}" >/dev/null; done
check_copy "$WORK/out/ours" ours
check_copy "$WORK/out/lftp" lftp
check_copy "$WORK/out/wget" wget
ROUND_RATIOS=()
for ((i = 0; i < RUNS; i++)); do
    declare -A round
    for j in 0 1 2; do
        k=$(((i + j) % 3))
        round[${names[$k]}]=$(time_once "${preps[$k]}" "${cmds[$k]}")
        times[${names[$k]}]+="${round[${names[$k]}]} "
    done
    # The same round's figures side by side: load that comes and goes over the rounds cancels.
    ROUND_RATIOS+=("$(awk -v o="${round[ours]}" -v l="${round[lftp]}" -v w="${round[wget]}" \
        'BEGIN {printf "%.4f\n", (l < w ? l : w) / o}')")
done
check_copy "$WORK/out/ours" ours

T_OURS=$(printf '%s\n' ${times[ours]} | median)
T_LFTP=$(printf '%s\n' ${times[lftp]} | median)
T_WGET=$(printf '%s\n' ${times[wget]} | median)
R_ROUND=$(printf '%s\n' "${ROUND_RATIOS[@]}" | median)

awk -v o="$T_OURS" -v l="$T_LFTP" -v w="$T_WGET" -v rr="$R_ROUND" -v n="$COUNT" -v s="$SIZE" \
    -v runs="$RUNS" -v mode="$MODE" -v wm="${WGET_MODE:-(passive)}" 'BEGIN {
    printf "\nVantrel FTP client on loopback (vsftpd, %s mode), %d files of %d bytes, medians of %d runs\n\n", mode, n, s, runs
    printf "%-28s %10s %10s %10s\n", "command", "time", "files/s", "ours x"
    printf "%-28s %8.3f s %10.0f %10s\n", "ours (ftpget)", o, n / o, ""
    printf "%-28s %8.3f s %10.0f %10.2f\n", "lftp mget (" mode ")", l, n / l, l / o
    printf "%-28s %8.3f s %10.0f %10.2f\n", "wget " wm " -r", w, n / w, w / o
    best = (l < w) ? l : w
    r = best / o
    printf "\nagainst the faster (%s): %.2f x  %s\n", (l < w ? "lftp" : "wget"), r, (r >= 1.0 ? ">= 1.00 ok" : ">= 1.00 MISSED")
    printf "median of the per-round ratios (faster of lftp and wget / ours): %.2f x\n", rr
}'
