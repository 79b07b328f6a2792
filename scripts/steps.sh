# shellcheck shell=bash
# Shared by the set-up, run and test scripts: each step is announced on standard error with the
# time it took, and the full output of every command goes to one log file whose path is printed.
# Standard output stays free for what the scripts print for their callers. The caller sets root,
# the repository's folder.

# The log of this run; a caller's log (CORVANE_LOG) is appended to, so that one run of test.sh or
# run.sh keeps everything in one file.
steps_init() {
    if [ -z "${CORVANE_LOG:-}" ]; then
        mkdir -p "${root:?}/build-logs"
        CORVANE_LOG="$root/build-logs/$1-$(date +%Y%m%d-%H%M%S).log"
        : >"$CORVANE_LOG"
        echo "Full output: $CORVANE_LOG" >&2
    fi
    export CORVANE_LOG
}

steps_now() { date +%s; }

# step_run "title" command...: runs the command with its output in the log; on failure shows the
# end of the log and returns the command's status.
step_run() {
    local title=$1 start status
    shift
    start=$(steps_now)
    printf '%s ...\n' "$title" >&2
    echo "=== $title: $*" >>"$CORVANE_LOG"
    set +e
    "$@" >>"$CORVANE_LOG" 2>&1
    status=$?
    set -e
    step_done "$title" "$start" "$status"
    return "$status"
}

# step_build "title" builddir: the build, with its progress in steps of ten per cent.
step_build() {
    local title=$1 dir=$2 start status
    start=$(steps_now)
    printf '%s:' "$title" >&2
    echo "=== $title: cmake --build $dir" >>"$CORVANE_LOG"
    set +e
    cmake --build "$dir" -j"$(nproc)" 2>&1 | tee -a "$CORVANE_LOG" | {
        shown=-10
        while IFS= read -r line; do
            if [[ $line =~ ^\[\ *([0-9]+)%\] ]] && ((BASH_REMATCH[1] >= shown + 10)); then
                shown=$((BASH_REMATCH[1] / 10 * 10))
                printf ' %d%%' "$shown" >&2
            fi
        done
    }
    status=${PIPESTATUS[0]}
    set -e
    echo >&2
    step_done "$title" "$start" "$status"
    return "$status"
}

step_done() {
    local title=$1 start=$2 status=$3
    local took=$(($(steps_now) - start))
    if [ "$status" -eq 0 ]; then
        printf '%s: done in %d s\n' "$title" "$took" >&2
    else
        printf '%s: FAILED (status %d) after %d s; the last lines of %s:\n' \
            "$title" "$status" "$took" "$CORVANE_LOG" >&2
        tail -n 30 "$CORVANE_LOG" >&2
    fi
}
