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

mapfile -t wanted < <(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' scripts/packages.txt)
missing=()
for pkg in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$pkg")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo_cmd apt-get update -qq
    $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
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

cmake -S . -B "$builddir" "${flags[@]}" >/dev/null
cmake --build "$builddir" -j"$(nproc)"
echo "$builddir"
