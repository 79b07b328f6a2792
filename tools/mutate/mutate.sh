#!/usr/bin/env bash
# Applies one-line faults to the core one at a time, rebuilds the test that should notice, runs it and
# records whether it failed. The source file is restored after every fault, also on Ctrl-C or an error.
#   tools/mutate/mutate.sh [build-dir] [mutations-file]
# The tests use fixed ports and the single-instance slot. Run as root, the script gives itself a
# private network and IPC namespace, so it neither waits for nor disturbs other test runs; run
# otherwise, hold the shared test lock around it.
set -uo pipefail
if [ -z "${CORVANE_MUTATE_PRIVATE:-}" ] && [ "$(id -u)" -eq 0 ] && command -v unshare >/dev/null; then
    export CORVANE_MUTATE_PRIVATE=1
    exec unshare --net --ipc bash -c 'ip link set lo up && exec bash "$0" "$@"' "$0" "$@"
fi
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${1:-$root/build}
data=${2:-$root/tools/mutate/mutations.tsv}
cd "$root"

current=""
restore() {
    if [ -n "$current" ]; then
        git checkout -q -- "$current"
        current=""
    fi
}
trap 'restore' EXIT
trap 'restore; exit 130' INT TERM

if [ ! -d "$build" ]; then
    echo "no build in $build: run scripts/setup.sh first" >&2
    exit 2
fi
if ! git diff --quiet -- device model storage crypto time app web update qml; then
    echo "the sources have uncommitted changes; a mutation run would discard them" >&2
    exit 2
fi

caught=0
missed=0
report=()
while IFS=$'\t' read -r file original faulty test; do
    case "$file" in '' | '#'*) continue ;; esac
    n=$(grep -cxF -- "$original" "$file" || true)
    if [ "$n" != 1 ]; then
        echo "SKIP $file: original line found $n times" >&2
        report+=("stale   $test  $file")
        missed=$((missed + 1))
        continue
    fi
    current=$file
    ORIGINAL=$original FAULTY=$faulty python3 - "$file" <<'PY'
import os, sys
path = sys.argv[1]
lines = open(path).read().split("\n")
lines[lines.index(os.environ["ORIGINAL"])] = os.environ["FAULTY"]
open(path, "w").write("\n".join(lines))
PY
    verdict=missed
    if ! nice cmake --build "$build" --target "$test" -j2 >/dev/null 2>&1; then
        verdict=nobuild # the replacement itself is wrong; fix the data file
    elif ! (cd "$build" && QT_QPA_PLATFORM=offscreen ctest -R "^${test}\$" >/dev/null 2>&1); then
        verdict=caught
    fi
    restore
    case "$verdict" in
    caught) caught=$((caught + 1)) ;;
    *) missed=$((missed + 1)) ;;
    esac
    report+=("$verdict  $test  $file: $faulty")
    echo "${report[-1]}"
done <"$data"

# Leave the build matching the restored sources.
nice cmake --build "$build" -j2 >/dev/null 2>&1 || true
echo "caught: $caught, missed: $missed"
[ "$missed" -eq 0 ]
