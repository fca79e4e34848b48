#!/usr/bin/env bash
# Installs every Debian package the build, the program and the tests need. Idempotent.
set -euo pipefail
packages=(
    cmake g++ make ninja-build pkg-config libgtest-dev qt6-base-dev libjpeg62-turbo-dev
    libssl-dev libsqlite3-dev
    xvfb xauth xdotool imagemagick fonts-dejavu-core iproute2
    nginx tinyproxy vsftpd python3-pyftpdlib lftp curl wget aria2 hyperfine time dbus-daemon
    clang libclang-rt-14-dev
    lintian appstream desktop-file-utils help2man dpkg-dev librsvg2-bin file
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
