#!/usr/bin/env bash
# Sets up, builds and starts the program; arguments go to the program.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh" >/dev/null
exec "$root/build/bin/corvane" "$@"
