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
    grep -q 'udevadm control --reload' "$out/control/$script" || fail "$script does not reload udev"
    grep -q 'udevadm trigger' "$out/control/$script" || fail "$script does not apply the rule"
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
