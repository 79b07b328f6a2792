#!/usr/bin/env bash
# check-package.sh <build-folder> <source-folder> <version>
# Builds the packages into a temporary folder, then checks their control fields, their
# files and the program in them.
set -euo pipefail
build=$1 source=$2 version=$3

for tool in dpkg-deb dpkg-shlibdeps cpack; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is missing"
        exit 77
    fi
done

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cpack -G DEB -B "$out" --config "$build/CPackConfig.cmake" >/dev/null
arch=$(dpkg --print-architecture)
main=$out/corvane_${version}_$arch.deb
sim=$out/corvane-sim_${version}_$arch.deb

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
field() { dpkg-deb -f "$1" "$2"; }

[ "$(field "$main" Package)" = corvane ] || fail "package name"
[ "$(field "$main" Version)" = "$version" ] || fail "version $(field "$main" Version)"
[ "$(field "$sim" Package)" = corvane-sim ] || fail "simulator package name"

# Every module the interface imports needs its package: no library link names them.
depends=$(field "$main" Depends)
declare -A module_package=(
    [QtQuick]=qml-module-qtquick2
    [QtQuick.Window]=qml-module-qtquick-window2
    [QtQuick.Controls]=qml-module-qtquick-controls
    [QtQuick.Controls.Styles]=qml-module-qtquick-controls
    [QtQuick.Dialogs]=qml-module-qtquick-dialogs
    [QtQuick.Layouts]=qml-module-qtquick-layouts
    [QtGraphicalEffects]=qml-module-qtgraphicaleffects
    [Qt.labs.platform]=qml-module-qt-labs-platform
)
modules=$(grep -rhoE '^\s*import\s+[A-Za-z][A-Za-z0-9.]*' "$source/qml" --include='*.qml' |
    awk '{print $2}' | sort -u | grep -v '^sl\.')
for module in $modules; do
    package=${module_package[$module]:-}
    if [ -z "$package" ]; then
        fail "no package known for the QML import $module"
    elif ! grep -qE "(^|, )$package(,|$| )" <<<"$depends"; then
        fail "Depends lacks $package for $module"
    fi
done
# The database driver is a plug-in; the rest comes from the program's links.
for package in libqt5sql5-sqlite libhidapi-hidraw0 libqt5quick5; do
    grep -qE "(^|, )$package( |,|$)" <<<"$depends" || fail "Depends lacks $package"
done

files=$(dpkg-deb -c "$main" | awk '{print $6}')
expected=(./usr/bin/corvane ./usr/lib/udev/rules.d/60-corvane-watch.rules
    ./usr/share/applications/corvane.desktop ./usr/share/metainfo/com.corvane.watch.metainfo.xml
    ./usr/share/man/man1/corvane.1.gz ./usr/share/doc/corvane/copyright
    ./usr/share/doc/corvane/changelog.gz)
for size in 16 32 48 64 128 256; do
    expected+=("./usr/share/icons/hicolor/${size}x$size/apps/corvane.png")
done
for file in "${expected[@]}"; do
    grep -qxF "$file" <<<"$files" || fail "missing $file"
done
grep -q gadget-sim <<<"$files" && fail "the simulator is in the program's package"
sim_files=$(dpkg-deb -c "$sim")
grep -q ' ./usr/bin/gadget-sim$' <<<"$sim_files" || fail "the simulator package lacks gadget-sim"

root=$out/root
dpkg-deb -x "$main" "$root"
dpkg-deb -e "$main" "$out/control"
for size in 16 32 48 64 128 256; do
    # The PNG header's width and height, big-endian at bytes 16 to 23.
    read -r -a wh < <(od -An -tu1 -j16 -N8 "$root/usr/share/icons/hicolor/${size}x$size/apps/corvane.png")
    [ $((wh[2] * 256 + wh[3])) -eq "$size" ] && [ $((wh[6] * 256 + wh[7])) -eq "$size" ] ||
        fail "the ${size}px icon is not ${size}x$size"
done
for script in postinst postrm; do
    [ -x "$out/control/$script" ] || fail "$script is missing or not executable"
done
# The maintainer scripts on a made-up system: the watch and another HID device plugged in, a
# udevadm that notes its calls; udev running, then not.
fake=$out/fake
mkdir -p "$fake/bin" "$fake/run/udev" "$fake/sys/class/hidraw/hidraw0/device" \
    "$fake/sys/class/hidraw/hidraw1/device"
echo 'HID_ID=0003:0000FFFF:0000099D' >"$fake/sys/class/hidraw/hidraw0/device/uevent"
echo 'HID_ID=0003:0000046D:0000C52B' >"$fake/sys/class/hidraw/hidraw1/device/uevent"
printf '#!/bin/sh\necho "$*" >>"%s/calls"\n' "$fake" >"$fake/bin/udevadm"
chmod +x "$fake/bin/udevadm"
expected_calls="control --reload
trigger --action=change $fake/sys/class/hidraw/hidraw0"
for run in "postinst configure" "postrm remove"; do
    read -r script action <<<"$run"
    sed -e "s|/run/udev/|$fake/run/udev/|g" -e "s|/sys/class/|$fake/sys/class/|g" \
        "$out/control/$script" >"$fake/$script"
    rm -f "$fake/run/udev/control" "$fake/calls"
    PATH=$fake/bin:$PATH sh "$fake/$script" "$action" || fail "$script $action failed"
    [ ! -e "$fake/calls" ] || fail "$script $action called udevadm without udev running"
    python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' \
        "$fake/run/udev/control"
    PATH=$fake/bin:$PATH sh "$fake/$script" "$action" || fail "$script $action failed"
    [ "$(cat "$fake/calls" 2>/dev/null)" = "$expected_calls" ] ||
        fail "$script $action called: $(cat "$fake/calls" 2>/dev/null)"
done

latest=$(zcat "$root/usr/share/doc/corvane/changelog.gz" | sed -n 1p)
grep -qF "corvane ($version)" <<<"$latest" ||
    fail "the changelog's last entry is not $version"
grep -qF "<release version=\"$version\"" "$root/usr/share/metainfo/com.corvane.watch.metainfo.xml" ||
    fail "the AppStream release history lacks $version"

# The stripped program from the package answers without a display.
answer=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$root/usr/bin/corvane" --version)
[ "$answer" = "Corvane $version" ] || fail "corvane --version says '$answer'"

if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$root/usr/share/applications/corvane.desktop" || fail "desktop entry"
fi
if command -v appstreamcli >/dev/null; then
    # The whole tree, so that the launchable desktop entry is found too.
    appstreamcli validate-tree --no-net "$root" >/dev/null || fail "AppStream metadata"
fi

[ "$failures" -eq 0 ] && echo "packages of $version: all checks passed"
exit $((failures > 0))
