#!/usr/bin/env bash
# Checks the install and the Debian package of the normal build (build/, or the directory given):
# a staged install holds every file a desktop program needs and its program answers --version
# with no display; the desktop entry, the AppStream metainfo and the .deb pass their validators
# (desktop-file-validate, appstreamcli, lintian with no errors). First, every shell script parses:
# the demo behind the README's run command runs in no test.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ -x "$build/VantrelBackup" ] || { echo "build the program first (bash scripts/build.sh)" >&2; exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
id=example.vantrel.VantrelBackup
package=vantrel-backup
deb="${package}_${version}_amd64.deb"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package check: $*" >&2; exit 1; }

echo "== bash -n"
for script in scripts/*.sh bench/*.sh; do
    bash -n "$script" || fail "$script does not parse"
done
echo "the shell scripts parse"

echo "== staged install"
cmake --install "$build" --prefix "$work/usr" >"$work/install.log"
prefix="$work/usr"
expected=(
    bin/VantrelBackup bin/$package
    share/applications/$id.desktop share/metainfo/$id.metainfo.xml
    share/icons/hicolor/scalable/apps/$id.svg
    share/man/man1/VantrelBackup.1.gz share/man/man1/$package.1.gz
    share/doc/$package/copyright share/doc/$package/changelog.gz
    lib/systemd/user/$package@.service lib/systemd/user/$package@.timer
)
for size in 16 32 48 64 128 256; do
    expected+=("share/icons/hicolor/${size}x${size}/apps/$id.png")
done
for file in "${expected[@]}"; do
    [ -e "$prefix/$file" ] || fail "the install lacks $file"
done
for size in 16 32 48 64 128 256; do
    file "$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png" |
        grep -q "PNG image data, $size x $size," || fail "the ${size}x${size} icon is not $size pixels"
done
# The menu entry must start an installed command and name an installed icon.
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$prefix/share/applications/$id.desktop")
[ -x "$prefix/bin/$exec_name" ] || fail "the desktop entry runs '$exec_name', which is not installed"
grep -qx "Icon=$id" "$prefix/share/applications/$id.desktop" || fail "the desktop entry's icon is not $id"
zcat "$prefix/share/man/man1/VantrelBackup.1.gz" | grep -q -- '--folder' ||
    fail "the manual page does not describe the options"
# No display of any kind: --version must not need one, under either name.
for command in VantrelBackup $package; do
    answer=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/$command" --version)
    [ "$answer" = "VantrelBackup $version" ] || fail "$command --version said '$answer'"
done
# The daily timer's service runs the installed command with a member and --update.
grep -qx "ExecStart=/usr/bin/$package --user %i --update" "$prefix/lib/systemd/user/$package@.service" ||
    fail "the timer's service does not run /usr/bin/$package --user %i --update"
if command -v systemd-analyze >/dev/null; then
    systemd-analyze verify --man=no "$prefix/lib/systemd/user/$package@.timer" \
        "$prefix/lib/systemd/user/$package@.service" 2>&1 | grep -v "Command /usr/bin/$package is not executable" || true
fi
echo "${#expected[@]} files in place; --version answers 'VantrelBackup $version'"

echo "== desktop-file-validate"
desktop-file-validate "$prefix/share/applications/$id.desktop"
echo "== appstreamcli validate --no-net"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml"

echo "== cpack -G DEB"
rm -f "$build/$deb"
(cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
[ -f "$build/$deb" ] || fail "cpack did not make $deb"
dpkg-deb -c "$build/$deb" >"$work/contents.txt"
grep -q ' \./usr/bin/VantrelBackup$' "$work/contents.txt" || fail "$deb lacks usr/bin/VantrelBackup"
dpkg-deb -f "$build/$deb" Depends | grep -q libqt6core6 || fail "$deb has no computed Depends"
echo "made $build/$deb"

echo "== lintian"
# Exit status 2 on errors; as root it warns about that on stderr, which says nothing of the package.
lintian "$build/$deb" 2> >(grep -v 'running with root privileges' >&2) ||
    fail "lintian found errors in $deb"
echo "package checks passed"
