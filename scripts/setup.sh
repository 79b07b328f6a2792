#!/usr/bin/env bash
# Installs what is missing, configures and builds. Quick when all is in place.
#   scripts/setup.sh [--asan|--tsan]   builds into build/ (build-asan/, build-tsan/)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

variant=""
case "${1:-}" in
--asan) variant=asan ;;
--tsan) variant=tsan ;;
"") ;;
*) echo "usage: $0 [--asan|--tsan]" >&2; exit 2 ;;
esac

# shellcheck source=scripts/steps.sh
. "$root/scripts/steps.sh"
steps_init setup

mapfile -t wanted < <(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' scripts/packages.txt)
missing=()
for pkg in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$pkg")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Packages: ${#missing[*]} to install (${missing[*]}); on a fresh machine this takes minutes" >&2
    sudo_cmd=()
    [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    step_run "Packages: apt-get update" "${sudo_cmd[@]}" apt-get update
    step_run "Packages: apt-get install" "${sudo_cmd[@]}" apt-get install -y \
        --no-install-recommends "${missing[@]}"
else
    echo "Packages: all ${#wanted[@]} present" >&2
fi

builddir=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "$variant" = asan ]; then
    builddir=build-asan
    flags+=(-DCORVANE_ASAN=ON)
elif [ "$variant" = tsan ]; then
    builddir=build-tsan
    flags+=(-DCORVANE_TSAN=ON)
fi
[ "${CI:-}" = true ] && flags+=(-DCORVANE_WERROR=ON)

step_run "Configure ($builddir)" cmake -S . -B "$builddir" "${flags[@]}"
step_build "Build ($builddir)" "$builddir"
echo "$builddir"
