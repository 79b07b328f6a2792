#!/usr/bin/env bash
# Builds the Debian packages in build/ (corvane_<version>_<arch>.deb and corvane-sim_...)
# and checks them with lintian, desktop-file-validate and appstreamcli.
#   scripts/package.sh
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
builddir=$("$root/scripts/setup.sh" | tail -n 1)
cd "$root/$builddir"

rm -f corvane_*.deb corvane-sim_*.deb
cpack -G DEB >/dev/null
debs=(corvane_*.deb corvane-sim_*.deb)

# Warnings fail as errors do: each one is fixed, not collected.
lintian --fail-on error,warning "${debs[@]}"
desktop-file-validate "$root/app/corvane.desktop"
# The screenshot and home page are on the web; this machine may not reach it.
appstreamcli validate --no-net --pedantic "$root/packaging/com.corvane.watch.metainfo.xml" >/dev/null

for deb in "${debs[@]}"; do
    echo "$root/$builddir/$deb"
done
