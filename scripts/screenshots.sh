#!/usr/bin/env bash
# Renders every page of the interface to PNG files for review, on a virtual screen.
#   scripts/screenshots.sh [folder]     (default: build/screenshots)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=$(realpath -m "${1:-$root/build/screenshots}")
"$root/scripts/setup.sh" >/dev/null

# A private 1920x1080 screen, so that the window has its full 1200x800 size.
display=""
for n in $(seq 90 99); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
        display=":$n"
        break
    fi
done
[ -n "$display" ] || { echo "no free X display number" >&2; exit 1; }
Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X${display#:}" ] && break
    sleep 0.1
done

DISPLAY="$display" "$root/build/bin/screenshots" "$out"
echo "screenshots in $out"
