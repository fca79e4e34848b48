#!/usr/bin/env bash
# The README's demo: a real backup job against servers on loopback.
#
# Starts the fixture gallery site (build/tests/vantrel-gallery-site) on a free loopback port and
# runs a copy of the program from a directory of its own, whose settings file next to it is
# seeded with the site as the proxy, the demo folder ID 77154 and a destination in the user's
# home ($HOME/VantrelBackup-demo/). The user's own settings file is never read or written.
#
# Where namespaces may be made (as root, or as a user through a user namespace), the demo runs in
# a private network and mount namespace in which /etc/hosts points the program's fixed FTP host
# at 127.0.0.1, where an FTP server serves a demo instructions archive for set 8436; elsewhere it
# shows the gallery job only.
#
# With a display the window waits for the user ("Get by ID"); the servers stop when it closes.
# Without one, everything runs under Xvfb: the demo presses Ctrl+I (and Ctrl+N), waits for the
# files, takes pictures of the window and prints where the files and pictures are.
# Everything it starts it stops by PID, also on failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
self="$root/scripts/demo.sh"
program="$root/build/VantrelBackup"
site_program="$root/build/tests/vantrel-gallery-site"
for built in "$program" "$site_program"; do
    [ -x "$built" ] || { echo "demo: build the program first (bash scripts/build.sh)" >&2; exit 1; }
done

folder_id=77154 # the program's default folder ID: the site's demo folder "Harbour"
set_number=8436 # the program's default set number
ftp_host=ftp.vantrelbricks.com
scan_dir=scans/08000/$set_number # where the program files set 8436, in the archive and locally
scan_names=("${set_number}_1.jpg" "${set_number}_2.jpg" "${set_number}_3.jpg")
destination="${HOME:?demo: HOME is not set}/VantrelBackup-demo/"
gallery_shot="$root/vantrel-window.png"
progress_shot="$root/vantrel-window-progress.png"
# One picture of the folder comes slowly, so that the transfer bar has something to show.
slow_picture=pier.jpg
scans_shot="$root/vantrel-window-scans.png"
failed_shot="$root/vantrel-window-failed.png"

# The instructions archive needs the program's fixed FTP host to mean 127.0.0.1: a private mount
# namespace gives it an /etc/hosts of its own and a private network namespace a port 21 of its
# own, and nothing outside changes. Root makes them directly and serves the archive with vsftpd;
# an ordinary user makes them inside a user namespace, where vsftpd cannot switch to its user
# "ftp", and serves it with pyftpdlib. A display, if any, must be reachable from inside. Without
# all that the gallery job runs alone. unshare without --fork becomes this script itself, so a
# signal to the demo still reaches the cleanup below.
have() { for tool in "$@"; do command -v "$tool" >/dev/null || return 1; done; }
ftp_server=none
if [ "${1:-}" = --in-namespace ]; then
    ftp_server=${2:?}
elif [ "${VANTREL_DEMO_ARCHIVE:-yes}" != no ]; then
    if [ "$(id -u)" -eq 0 ]; then
        namespace=(unshare --mount --net --)
        server=vsftpd
        have vsftpd || server=""
    else
        namespace=(unshare --user --map-root-user --mount --net --)
        server=pyftpdlib
        /usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null || server=""
    fi
    if [ -n "$server" ] && have unshare ip && "${namespace[@]}" sh -c 'ip link set lo up &&
        mount --bind /etc/hosts /etc/hosts && { [ -z "${DISPLAY:-}" ] || xdotool getdisplaygeometry; }' \
        >/dev/null 2>&1; then
        exec "${namespace[@]}" bash "$self" --in-namespace "$server"
    fi
    echo "demo: no private network namespace here (it needs unshare, ip, ${server:-an FTP server}" \
        "and the right to make namespaces); the instructions archive is left out"
fi

work=$(mktemp -d /tmp/vantrel-demo.XXXXXX)
chmod 755 "$work" # the FTP sessions of vsftpd run as user ftp
site_pid="" ftp_pid="" xvfb_pid="" app_pid="" program_dir=""
stop() {
    [ -n "$1" ] || return 0
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}
cleanup() {
    stop "$app_pid"
    stop "$xvfb_pid"
    stop "$ftp_pid"
    stop "$site_pid"
    rm -rf "$work" "${program_dir:-}"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
fail() {
    echo "demo: $*" >&2
    if [ -n "${wid:-}" ] && window_shot "$failed_shot" 2>/dev/null; then
        echo "demo: picture of the window at the failure: $failed_shot" >&2
    fi
    [ -s "$work/app.log" ] && sed 's/^/  program: /' "$work/app.log" >&2
    exit 1
}
# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
    local seconds=$1
    shift
    for _ in $(seq $((seconds * 10))); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

if [ "$ftp_server" != none ]; then
    ip link set lo up
    { cat /etc/hosts; echo "127.0.0.1 $ftp_host"; } >"$work/hosts"
    mount --bind "$work/hosts" /etc/hosts
fi

# The gallery site, and the list of what a backup of the demo folder stores.
"$site_program" --expected "$folder_id" "$work/expected.txt" --slow "$folder_id" "$slow_picture" 6000 \
    --log "$work/requests.log" >"$work/site.out" 2>"$work/site.log" &
site_pid=$!
wait_for 10 test -s "$work/site.out" || fail "the gallery site did not start: $(cat "$work/site.log")"
port=$(head -1 "$work/site.out")
echo "demo: gallery site on 127.0.0.1:$port (folder $folder_id of member pelmark)"

# The instructions archive: a few generated scan pages of set 8436 and an index page, which the
# program skips.
pages="$work/ftp/pub/brick/$scan_dir"
if [ "$ftp_server" != none ]; then
    mkdir -p "$pages" "$work/empty"
    for page in 1 2 3; do
        name=${scan_names[page - 1]}
        convert -size 300x420 xc:'#fbfaf4' -fill '#20306a' -draw 'rectangle 0,0 300,46' \
            -fill white -font DejaVu-Sans-Bold -pointsize 22 -annotate +14+31 "Set $set_number" \
            -fill '#c0392b' -draw "rectangle 60,$((120 + page * 20)) 150,$((170 + page * 20))" \
            -fill '#f1c40f' -draw "rectangle 150,$((170 + page * 20)) 240,$((220 + page * 20))" \
            -fill '#333333' -font DejaVu-Sans -pointsize 16 -annotate +14+400 "Page $page of 3" \
            -quality 85 "$pages/$name"
    done
    echo '<html><body>Set 8436 instructions</body></html>' >"$pages/index.htm"
    chmod -R a+rX "$work/ftp"
    if [ "$ftp_server" = vsftpd ]; then
        cat >"$work/vsftpd.conf" <<EOF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=21
background=NO
anonymous_enable=YES
local_enable=NO
write_enable=NO
anon_root=$work/ftp
secure_chroot_dir=$work/empty
port_enable=YES
connect_from_port_20=NO
seccomp_sandbox=NO
hide_ids=YES
use_localtime=NO
xferlog_enable=YES
vsftpd_log_file=$work/vsftpd.log
EOF
        vsftpd "$work/vsftpd.conf" >"$work/ftp.log" 2>&1 &
    else
        # The program logs in as "Anonymous"; pyftpdlib knows only the lower-case name.
        cat >"$work/ftpd.py" <<'EOF'
import sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

class Handler(FTPHandler):
    def ftp_USER(self, line):
        return super().ftp_USER("anonymous" if line.lower() == "anonymous" else line)

Handler.authorizer = DummyAuthorizer()
Handler.authorizer.add_anonymous(sys.argv[1])
FTPServer(("127.0.0.1", 21), Handler).serve_forever()
EOF
        /usr/bin/python3 "$work/ftpd.py" "$work/ftp" >"$work/ftp.log" 2>&1 &
    fi
    ftp_pid=$!
    wait_for 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/21" 2>/dev/null ||
        fail "$ftp_server did not start: $(cat "$work/ftp.log")"
    echo "demo: instructions archive on $ftp_host:21 = 127.0.0.1:21" \
        "(set $set_number, ${#scan_names[@]} scans, $ftp_server)"
fi

# Files of an earlier demo run go first, so that this run fetches them again; nothing else in
# the destination is touched.
rm -f "$gallery_shot" "$progress_shot" "$scans_shot" "$failed_shot"
if [ -d "$destination" ]; then
    while read -r _ path; do rm -f "$destination$path"; done <"$work/expected.txt"
    for name in "${scan_names[@]}"; do rm -f "$destination$scan_dir/$name"; done
    find "${destination}gallery" "${destination}scans" -depth -type d -empty -delete 2>/dev/null || true
fi

# A copy of the program in a directory of its own has its settings file beside it: the demo's.
# It goes beside the build, where programs may run (/tmp may be mounted noexec).
program_dir=$(mktemp -d "$root/build/demo-program.XXXXXX")
cp "$program" "$program_dir/VantrelBackup"
cat >"$program_dir/VantrelBackup.ini" <<EOF
[TForm1]
FormVersion=0
Edit1_Text=$destination
Edit3_Text=$folder_id
Edit5_Text=pelmark
Edit2_Text=$set_number
RadioButton1_Checked=True
RadioButton2_Checked=False
[TForm2]
FormVersion=0
Edit1_Text=127.0.0.1
Edit2_Text=$port
EOF
chmod 600 "$program_dir/VantrelBackup.ini"
echo "demo: settings seeded: destination $destination, folder ID $folder_id, proxy 127.0.0.1:$port"

gallery_done() {
    (cd "$destination" 2>/dev/null && sha1sum --quiet -c "$work/expected.txt" >/dev/null 2>&1)
}
scans_done() {
    for name in "${scan_names[@]}"; do
        cmp -s "$pages/$name" "$destination$scan_dir/$name" || return 1
    done
}
start_program() {
    (cd "$work" && exec "$program_dir/VantrelBackup") >"$work/app.log" 2>&1 &
    app_pid=$!
}
window_shot() {
    eval "$(xdotool getwindowgeometry --shell "$wid")"
    import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$1"
}
report_files() {
    local pictures=0 scans=0 path name
    while read -r _ path; do [ ! -f "$destination$path" ] || pictures=$((pictures + 1)); done \
        <"$work/expected.txt"
    for name in "${scan_names[@]}"; do
        [ ! -f "$destination$scan_dir/$name" ] || scans=$((scans + 1))
    done
    echo "demo: $pictures of the gallery's $(wc -l <"$work/expected.txt") pictures are in" \
        "${destination}gallery/pelmark/"
    if [ "$ftp_server" != none ]; then
        echo "demo: $scans of the ${#scan_names[@]} scans of set $set_number are in" \
            "$destination$scan_dir/"
    fi
}

if [ -n "${DISPLAY:-}" ]; then
    start_program
    echo "demo: press \"Get by ID\" (Ctrl+I): folder $folder_id goes to $destination"
    if [ "$ftp_server" != none ]; then
        echo "demo: then \"Get Inst...\" (Ctrl+N) fetches the instruction scans of set $set_number"
    else
        echo "demo: \"Get Inst...\" has no demo archive here: it would look for the real host"
    fi
    echo "demo: close the window to end the demo"
    wait "$app_pid" || true
    app_pid=""
    report_files
    exit 0
fi

Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$work/display.txt" 2>"$work/xvfb.log" &
xvfb_pid=$!
wait_for 10 test -s "$work/display.txt" || fail "Xvfb did not start"
export DISPLAY=":$(head -1 "$work/display.txt")"
unset QT_QPA_PLATFORM
start_program
wid=$(timeout 15 xdotool search --sync --name 'Vantrel Backup' | head -1) || true
[ -n "$wid" ] || fail "the window did not appear"
echo "demo: no display: the window runs under Xvfb; pressing Ctrl+I (Get by ID)"
xdotool windowfocus --sync "$wid" key --clearmodifiers ctrl+i
if wait_for 60 grep -q "/$slow_picture\$" "$work/requests.log"; then
    sleep 3 # half way through the slow picture
    window_shot "$progress_shot"
fi
wait_for 60 gallery_done || fail "the gallery job did not store every picture within 60 s"
sleep 1 # the job's last log lines and status
window_shot "$gallery_shot"
if [ "$ftp_server" != none ]; then
    echo "demo: pressing Ctrl+N (Get Inst..., set $set_number)"
    xdotool windowfocus --sync "$wid" key --clearmodifiers ctrl+n
    wait_for 30 scans_done || fail "the scans did not arrive within 30 s"
    sleep 1
    [ ! -e "${destination}${scan_dir}/index.htm" ] || fail "the index page was fetched"
    window_shot "$scans_shot"
fi
stop "$app_pid"
app_pid=""
report_files
echo "demo: picture of the window during a transfer: $progress_shot"
echo "demo: picture of the window after the gallery job: $gallery_shot"
if [ "$ftp_server" != none ]; then
    echo "demo: picture of the window after the scans: $scans_shot"
fi
