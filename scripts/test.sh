#!/usr/bin/env bash
# Sets up, builds and runs every test.
#   scripts/test.sh [--asan|--tsan] [extra ctest arguments]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
variant=()
case "${1:-}" in
--asan|--tsan) variant=("$1"); shift ;;
esac
# shellcheck source=scripts/steps.sh
. "$root/scripts/steps.sh"
steps_init "test${variant[0]:+-${variant[0]#--}}"
builddir=$("$root/scripts/setup.sh" "${variant[@]}" | tail -n 1)

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:${ASAN_OPTIONS:-}"
# Full stacks, so that leaks kept by the offscreen plugin match its suppression.
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0:fast_unwind_on_malloc=0:${LSAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:${TSAN_OPTIONS:-}"

cd "$root/$builddir"
# The tests' own lines stay on screen; they also go to the log.
echo "Tests ($builddir) ..." >&2
echo "=== Tests: ctest $*" >>"$CORVANE_LOG"
start=$(steps_now)
set +e
ctest --output-on-failure -j2 --timeout 600 "$@" 2>&1 | tee -a "$CORVANE_LOG"
status=${PIPESTATUS[0]}
set -e
took=$(($(steps_now) - start))
if [ "$status" -eq 0 ]; then
    echo "Tests ($builddir): passed in $took s; full output: $CORVANE_LOG" >&2
else
    echo "Tests ($builddir): FAILED (status $status) after $took s; full output: $CORVANE_LOG" >&2
fi
exit "$status"
