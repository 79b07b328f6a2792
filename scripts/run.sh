#!/usr/bin/env bash
# Sets up, builds and starts the program together with the simulated watch, so that the window
# shows a watch connecting. --no-sim starts the program alone, for a real watch on USB.
# Other arguments go to the program.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
sim=1
args=()
for arg in "$@"; do
    case "$arg" in
    --no-sim) sim=0 ;;
    *) args+=("$arg") ;;
    esac
done
# shellcheck source=scripts/steps.sh
. "$root/scripts/steps.sh"
steps_init run
"$root/scripts/setup.sh" >/dev/null
bin="$root/build/bin"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: start this from a desktop session (or see scripts/screenshots.sh)." >&2
    exit 1
fi

if [ "$sim" = 1 ]; then
    # The simulated watch dials the program's gadget port and dials again whenever the
    # program drops it, so it may start first.
    "$bin/gadget-sim" --reconnect >/dev/null &
    sim_pid=$!
    trap 'kill "$sim_pid" 2>/dev/null || true' EXIT
fi
"$bin/corvane" ${args[@]+"${args[@]}"}
