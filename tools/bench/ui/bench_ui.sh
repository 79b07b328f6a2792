#!/usr/bin/env bash
# Interface benchmark: start to first frame, peak memory and idle CPU of corvane
# under Xvfb, with no watch connected.
#
#   bash tools/bench/ui/bench_ui.sh [--quick] [--keep] [--bin PROGRAM] [--baseline PROGRAM]
#
#   --quick      short trial run: 2 starts per backend, 10 s idle windows
#                (same as BENCH_UI_QUICK=1)
#   --keep       keep the logs and private folders and print where they are
#   --bin        the program to measure (default: BUILD_DIR/bin/corvane)
#   --baseline   an earlier build to compare with: its starts alternate with the
#                program's, and the first-frame goal becomes 60 % of its median
#   --warm-cache keep each program's cache folder (Mesa's and Qt's shader caches, the
#                QML cache) across its starts, as a user's later starts find it; an
#                unmeasured start per program and backend fills it first
#
# BUILD_DIR (default build, relative to the repository root) selects the build;
# BENCH_UI_RUNS and BENCH_UI_IDLE_SECONDS override the number of starts and the
# length of each idle window. Missed goals are reported, not failures; the exit
# status is non-zero only when the program did not start or never drew a frame.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
build_dir=${BUILD_DIR:-build}
[[ $build_dir == /* ]] || build_dir=$root/$build_dir
bin=$build_dir/bin/corvane
base_bin=

quick=${BENCH_UI_QUICK:-0}
keep=0
warm=0
while (($#)); do
    arg=$1
    shift
    case $arg in
        --quick) quick=1 ;;
        --keep) keep=1 ;;
        --warm-cache) warm=1 ;;
        --bin | --baseline)
            (($#)) || { echo "bench_ui: $arg needs a program" >&2; exit 2; }
            [[ $arg == --bin ]] && bin=$(realpath "$1") || base_bin=$(realpath "$1")
            shift
            ;;
        -h | --help)
            sed -n '2,21p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
            exit 0
            ;;
        *)
            echo "bench_ui: unknown option $arg (try --help)" >&2
            exit 2
            ;;
    esac
done

if [[ $quick == 1 ]]; then
    runs=${BENCH_UI_RUNS:-2}
    idle_seconds=${BENCH_UI_IDLE_SECONDS:-10}
else
    runs=${BENCH_UI_RUNS:-5}
    idle_seconds=${BENCH_UI_IDLE_SECONDS:-60}
fi
settle_seconds=5       # the updater's first failed check and its retry timer are over by then
hwm_delay_seconds=3    # after the first frame, so the peak includes the first page's images
frame_timeout_seconds=30
stop_timeout_seconds=10

# Goals. The first-frame goals are 60 % of the build before the start-up work
# (4e22128), measured on the development machine; --baseline measures them anew.
goal_frame_software_ms=145
goal_frame_default_ms=195
goal_rss_software_mib=50
goal_rss_default_mib=125
goal_cpu_shown=0.05
goal_cpu_hidden=0.02

die() {
    echo "bench_ui: $*" >&2
    exit 1
}

[[ -x $bin ]] || die "no program at $bin (build first, or set BUILD_DIR)"
[[ -z $base_bin || -x $base_bin ]] || die "no baseline program at $base_bin"
command -v Xvfb >/dev/null || die "Xvfb is not installed (Debian package xvfb)"
command -v xdotool >/dev/null || die "xdotool is not installed (Debian package xdotool)"
command -v ss >/dev/null || die "ss is not installed (Debian package iproute2)"
clk_tck=$(getconf CLK_TCK)

# The program's hub and command port; a second program on them would make the
# figures meaningless and the new instance would run without its servers.
port_holder() {
    local port
    for port in 6666 19022; do
        if [[ -n $(ss -ltnH "sport = :$port") ]]; then
            echo "$port"
            return 0
        fi
    done
    return 1
}

work=$(mktemp -d "${TMPDIR:-/tmp}/bench_ui.XXXXXX")
xvfb_pid=
prog_pid=

# Stops the program started last: SIGTERM, then SIGKILL if it does not go.
# It is our child, so it stays a zombie until waited for; look at its state.
stop_program() {
    [[ -n $prog_pid ]] || return 0
    local pid=$prog_pid state i
    prog_pid=
    kill -TERM "$pid" 2>/dev/null || true
    for ((i = 0; i < stop_timeout_seconds * 20; i++)); do
        state=$(awk '{ sub(/.*\) /, ""); print $1 }' "/proc/$pid/stat" 2>/dev/null || echo gone)
        [[ $state == Z || $state == gone ]] && break
        sleep 0.05
    done
    if [[ $state != Z && $state != gone ]]; then
        echo "bench_ui: pid $pid did not stop within ${stop_timeout_seconds} s of SIGTERM, killing it" >&2
        notes+=("pid $pid needed SIGKILL")
        kill -KILL "$pid" 2>/dev/null || true
    fi
    wait "$pid" 2>/dev/null || true
    # Listening sockets close with the process, but give the kernel a moment.
    for ((i = 0; i < 100; i++)); do
        port_holder >/dev/null || return 0
        sleep 0.05
    done
}

cleanup() {
    stop_program
    if [[ -n $xvfb_pid ]]; then
        kill -TERM "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    if [[ $keep == 1 ]]; then
        echo "bench_ui: logs and folders kept in $work"
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

notes=()

if held=$(port_holder); then
    die "port $held is already in use (another corvane, a test or the simulator?); stop it first:
$(ss -ltnp "sport = :$held" 2>/dev/null)"
fi

# A display of our own: never the user's, and not one a parallel run uses.
display=
for n in 91 92 93 94 95 96 97 98 99; do
    [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
    Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp >"$work/xvfb-$n.log" 2>&1 &
    xvfb_pid=$!
    for ((i = 0; i < 100; i++)); do
        if DISPLAY=":$n" xdotool getdisplaygeometry >/dev/null 2>&1; then
            display=":$n"
            break
        fi
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.05
    done
    [[ -n $display ]] && break
    # Lost a race for this number, or Xvfb failed: try the next one.
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=
done
[[ -n $display ]] || die "could not start Xvfb on any of :91..:99 (see $work/xvfb-*.log)"

run_count=0
run_log=
prog_bin=$bin

# start_program BACKEND ARGS...: starts corvane with fresh private folders.
# BACKEND is "software" or "default" (QT_QUICK_BACKEND unset).
start_program() {
    local backend=$1
    shift
    if held=$(port_holder); then
        die "port $held was taken by another program during the benchmark"
    fi
    run_count=$((run_count + 1))
    local dir=$work/run-$run_count-$backend
    mkdir -p "$dir"/{home,config,cache,data,runtime,tmp}
    chmod 0700 "$dir/runtime"
    local cache=$dir/cache
    if [[ $warm == 1 ]]; then
        cache=$work/cache-$backend-$(cksum <<<"$prog_bin" | cut -d' ' -f1)
        mkdir -p "$cache"
    fi
    run_log=$dir/program.log
    local quick_backend=(-u QT_QUICK_BACKEND)
    [[ $backend == software ]] && quick_backend=(QT_QUICK_BACKEND=software)
    # env executes the program in its own process, so $! is the program itself.
    # The bus address points nowhere: no session bus of the user, no autolaunch.
    # The message pattern puts the level first so warnings can be counted; the
    # scene graph category names the renderer the default backend ended up with.
    env -u QMLSCENE_DEVICE -u QT_SCALE_FACTOR -u QT_SCREEN_SCALE_FACTORS "${quick_backend[@]}" \
        HOME="$dir/home" \
        XDG_CONFIG_HOME="$dir/config" \
        XDG_CACHE_HOME="$cache" \
        XDG_DATA_HOME="$dir/data" \
        XDG_RUNTIME_DIR="$dir/runtime" \
        TMPDIR="$dir/tmp" \
        DISPLAY="$display" \
        QT_QPA_PLATFORM=xcb \
        DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/runtime/no-bus" \
        CORVANE_SERVICE_ORIGIN=https://127.0.0.1:1 \
        CORVANE_NTP_HOST=127.0.0.1 \
        QT_LOGGING_RULES="default.debug=true;qt.scenegraph.general.debug=true" \
        QT_MESSAGE_PATTERN='%{type}: %{if-category}%{category}: %{endif}%{message}' \
        "$prog_bin" "$@" >"$run_log" 2>&1 &
    prog_pid=$!
}

alive() {
    local state
    state=$(awk '{ sub(/.*\) /, ""); print $1 }' "/proc/$prog_pid/stat" 2>/dev/null || echo gone)
    [[ $state != Z && $state != gone ]]
}

fail_run() {
    echo "bench_ui: $1; last lines of $run_log:" >&2
    tail -n 20 "$run_log" >&2 || true
    keep=1
    exit 1
}

# Sets first_ms to N of the first "first frame after N ms" in the log (the
# line can come twice when two frames are swapped before it is handled).
first_ms=
wait_first_frame() {
    local i line
    first_ms=
    for ((i = 0; i < frame_timeout_seconds * 20; i++)); do
        line=$(grep -m1 -o 'first frame after [0-9]* ms' "$run_log" 2>/dev/null || true)
        if [[ -n $line ]]; then
            line=${line#first frame after }
            first_ms=${line% ms}
            return 0
        fi
        alive || fail_run "corvane (pid $prog_pid) exited before its first frame"
        sleep 0.05
    done
    fail_run "corvane (pid $prog_pid) drew no frame within ${frame_timeout_seconds} s"
}

# Guards against measuring a wrapper instead of the program.
check_is_program() {
    local exe
    exe=$(readlink "/proc/$prog_pid/exe" 2>/dev/null || true)
    [[ $exe == "$(readlink -f "$prog_bin")" ]] || fail_run "pid $prog_pid is $exe, not $prog_bin"
}

visible_windows() {
    { DISPLAY=$display xdotool search --all --onlyvisible --pid "$prog_pid" --name 'Corvane' 2>/dev/null || true; } | wc -l
}

hwm_kib() {
    awk '/^VmHWM:/ { print $2 }' "/proc/$prog_pid/status"
}

# utime + stime of the program, in clock ticks (fields 14 and 15; counted after
# the command name, which may hold spaces).
cpu_ticks() {
    awk '{ sub(/.*\) /, ""); print $12 + $13 }' "/proc/$prog_pid/stat"
}

# CPU time of each of the program's threads in nanoseconds ("tid ns" lines), from
# the scheduler: ticks of 10 ms are too coarse for goals of a few hundredths of a
# percent. A thread that ends within the window (Qt's pool threads expire after
# 30 s idle) takes its share along; the tick count, which keeps it, is printed
# beside as a check.
cpu_ns_snapshot() {
    local task
    for task in /proc/"$prog_pid"/task/*; do
        read -r ns _ <"$task/schedstat" 2>/dev/null && echo "${task##*/} $ns"
    done
}

# ns_between SNAPSHOT0 SNAPSHOT1: CPU time the threads alive at the end spent since the start.
ns_between() {
    awk 'NR == FNR { t0[$1] = $2; next } { s += $2 - ($1 in t0 ? t0[$1] : 0) } END { printf "%.0f\n", s }' \
        <(echo "$1") <(echo "$2")
}

median() {
    sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) print "n/a"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

declare -A frame_ms rss_mib frame_list rss_list cpu_pct

# Port 6666 is fixed, so a simulator or test started elsewhere on this machine
# can connect to the program being measured; such a run has a watch after all.
peer_seen() {
    grep -q -E 'new (tcp|usb) device (connected|available)' "$run_log"
}
max_attempts=3
declare -A tainted=()

# measure_start BACKEND [PROGRAM KEY]: KEY names the figures (default: BACKEND).
measure_start() {
    local backend=$1 r attempt ms kib frames=() rsses=()
    local key=${3:-$1}
    prog_bin=${2:-$bin}
    if [[ $warm == 1 && ! -d $work/cache-$backend-$(cksum <<<"$prog_bin" | cut -d' ' -f1) ]]; then
        start_program "$backend"
        wait_first_frame
        sleep 1
        stop_program
    fi
    for ((r = 1; r <= runs; r++)); do
        for ((attempt = 1; attempt <= max_attempts; attempt++)); do
            start_program "$backend"
            wait_first_frame
            ms=$first_ms
            check_is_program
            sleep "$hwm_delay_seconds"
            alive || fail_run "corvane exited after its first frame"
            [[ $(visible_windows) -ge 1 ]] || notes+=("$backend start $r: no visible Corvane window found")
            kib=$(hwm_kib)
            stop_program
            peer_seen || break
            if ((attempt < max_attempts)); then
                echo "  $backend start $r/$runs: a peer connected to port 6666, starting again" >&2
            fi
        done
        if peer_seen; then
            tainted[$key]=1
            notes+=("$key start $r: a peer connected to port 6666 in all $max_attempts attempts")
        fi
        frames+=("$ms")
        rsses+=("$(awk -v k="$kib" 'BEGIN { printf "%.1f", k / 1024 }')")
        echo "  $key start $r/$runs: first frame after $ms ms, VmHWM $kib KiB" >&2
    done
    frame_ms[$key]=$(printf '%s\n' "${frames[@]}" | median)
    rss_mib[$key]=$(printf '%s\n' "${rsses[@]}" | median)
    frame_list[$key]=${frames[*]}
    rss_list[$key]=${rsses[*]}
    prog_bin=$bin
}

# Idle CPU in percent of one core over idle_seconds after the settle time.
measure_idle() {
    local mode=$1 attempt t0 t1 c0 c1 n0 n1 windows
    for ((attempt = 1; attempt <= max_attempts; attempt++)); do
        if [[ $mode == hidden ]]; then
            start_program default --hidden
            sleep 1
            alive || fail_run "corvane --hidden exited right after its start"
        else
            start_program default
            wait_first_frame
        fi
        check_is_program
        sleep "$settle_seconds"
        alive || fail_run "corvane exited during the settle time"
        windows=$(visible_windows)
        c0=$(cpu_ticks)
        n0=$(cpu_ns_snapshot)
        t0=$EPOCHREALTIME
        sleep "$idle_seconds"
        c1=$(cpu_ticks)
        n1=$(cpu_ns_snapshot)
        t1=$EPOCHREALTIME
        alive || fail_run "corvane exited during the idle measurement"
        stop_program
        peer_seen || break
        if ((attempt < max_attempts)); then
            echo "  idle $mode: a peer connected to port 6666, measuring again" >&2
        fi
    done
    if peer_seen; then
        tainted[$mode]=1
        notes+=("idle $mode: a peer connected to port 6666 in all $max_attempts attempts")
    fi
    if [[ $mode == hidden && $windows -ne 0 ]]; then
        notes+=("idle hidden: $windows visible Corvane window(s)")
    elif [[ $mode == shown && $windows -eq 0 ]]; then
        notes+=("idle shown: no visible Corvane window")
    fi
    local ns
    ns=$(ns_between "$n0" "$n1")
    cpu_pct[$mode]=$(awk -v d="$ns" -v t0="$t0" -v t1="$t1" \
        'BEGIN { printf "%.4f", 100 * d / 1e9 / (t1 - t0) }')
    echo "  idle $mode: $((ns / 1000)) us on CPU ($((c1 - c0)) ticks of 1/$clk_tck s) in ${idle_seconds} s -> ${cpu_pct[$mode]} %" >&2
}

echo "bench_ui: $bin on Xvfb $display, $runs starts per backend, idle windows of ${idle_seconds} s" >&2
if [[ -n $base_bin ]]; then
    echo "bench_ui: baseline $base_bin, its starts alternating with the program's" >&2
    # One start each in turn, so that both meet the same load on the machine.
    all_runs=$runs
    runs=1
    declare -A lists=()
    for ((round = 1; round <= all_runs; round++)); do
        for b in software default; do
            measure_start $b "$bin" $b
            lists[$b-frame]+=" ${frame_ms[$b]}"
            lists[$b-rss]+=" ${rss_mib[$b]}"
            measure_start $b "$base_bin" base-$b
            lists[base-$b-frame]+=" ${frame_ms[base-$b]}"
            lists[base-$b-rss]+=" ${rss_mib[base-$b]}"
        done
    done
    runs=$all_runs
    for k in software default base-software base-default; do
        frame_list[$k]=${lists[$k-frame]# }
        rss_list[$k]=${lists[$k-rss]# }
        frame_ms[$k]=$(tr ' ' '\n' <<<"${frame_list[$k]}" | median)
        rss_mib[$k]=$(tr ' ' '\n' <<<"${rss_list[$k]}" | median)
    done
    goal_frame_software_ms=$(awk -v m="${frame_ms[base-software]}" 'BEGIN { printf "%.0f", 0.6 * m }')
    goal_frame_default_ms=$(awk -v m="${frame_ms[base-default]}" 'BEGIN { printf "%.0f", 0.6 * m }')
else
    measure_start software
    measure_start default
fi
measure_idle shown
measure_idle hidden

# verdict VALUE GOAL [KEY]: "ok" when VALUE <= GOAL; "*" when a peer spoiled the figure.
verdict() {
    awk -v v="$1" -v g="$2" -v t="${tainted[${3:-}]:-}" \
        'BEGIN { printf "%s%s\n", (v + 0 <= g + 0) ? "ok" : "MISSED", t ? "*" : "" }'
}

# What the program complained about, over all starts (the tray warning shows
# up in every start under Xvfb, which has no tray).
renderer=$(grep -h -m1 -o 'GL_RENDERER: .*' "$work"/run-*-default/program.log 2>/dev/null | head -n1 | sed 's/GL_RENDERER: *//' || true)
warnings=$(cat "$work"/run-*/program.log | grep -E '^(warning|critical|fatal): ' | sort | uniq -c | sort -rn || true)

{
    echo
    echo "Interface benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) CPU(s), Xvfb $display 1920x1080x24"
    echo "git $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo '?')$(git -C "$root" diff --quiet 2>/dev/null || echo ' (with local changes)'), program $bin"
    echo
    printf '%-44s %12s %11s  %-7s %s\n' "measure" "value" "goal" "" "runs"
    printf '%-44s %12s %11s  %-7s %s\n' "--------------------------------------------" "------------" "-----------" "-------" "----"
    printf '%-44s %9s ms %8s ms  %-7s %s\n' "first frame, software (median of $runs)" "${frame_ms[software]}" "<= $goal_frame_software_ms" \
        "$(verdict "${frame_ms[software]}" $goal_frame_software_ms software)" "${frame_list[software]}"
    printf '%-44s %9s ms %8s ms  %-7s %s\n' "first frame, default (median of $runs)" "${frame_ms[default]}" "<= $goal_frame_default_ms" \
        "$(verdict "${frame_ms[default]}" $goal_frame_default_ms default)" "${frame_list[default]}"
    printf '%-44s %8s MiB %7s MiB  %-7s %s\n' "peak RSS (VmHWM), software (median of $runs)" "${rss_mib[software]}" "<= $goal_rss_software_mib" \
        "$(verdict "${rss_mib[software]}" $goal_rss_software_mib software)" "${rss_list[software]}"
    printf '%-44s %8s MiB %7s MiB  %-7s %s\n' "peak RSS (VmHWM), default (median of $runs)" "${rss_mib[default]}" "<= $goal_rss_default_mib" \
        "$(verdict "${rss_mib[default]}" $goal_rss_default_mib default)" "${rss_list[default]}"
    printf '%-44s %10s %% %9s %%  %-7s\n' "idle CPU, window shown (${idle_seconds} s, default)" "${cpu_pct[shown]}" "<= $goal_cpu_shown" \
        "$(verdict "${cpu_pct[shown]}" $goal_cpu_shown shown)"
    printf '%-44s %10s %% %9s %%  %-7s\n' "idle CPU, hidden in tray (${idle_seconds} s, default)" "${cpu_pct[hidden]}" "<= $goal_cpu_hidden" \
        "$(verdict "${cpu_pct[hidden]}" $goal_cpu_hidden hidden)"
    if [[ -n $base_bin ]]; then
        echo
        echo "Baseline $base_bin (starts alternating with the program's; first-frame goals are 60 % of its medians):"
        printf '%-44s %9s ms %s\n' "first frame, software (median of $runs)" "${frame_ms[base-software]}" "${frame_list[base-software]}"
        printf '%-44s %9s ms %s\n' "first frame, default (median of $runs)" "${frame_ms[base-default]}" "${frame_list[base-default]}"
        printf '%-44s %8s MiB %s\n' "peak RSS (VmHWM), software (median of $runs)" "${rss_mib[base-software]}" "${rss_list[base-software]}"
        printf '%-44s %8s MiB %s\n' "peak RSS (VmHWM), default (median of $runs)" "${rss_mib[base-default]}" "${rss_list[base-default]}"
    fi
    echo
    echo "CPU in percent of one core (scheduler time of all threads); peak RSS read ${hwm_delay_seconds} s after the first frame; idle after ${settle_seconds} s settling."
    echo "Default backend rendered with: ${renderer:-unknown (no GL_RENDERER line in the logs)}"
    if [[ $warm == 1 ]]; then
        echo "Warm caches: each program found its cache folder from an earlier start."
    fi
    if [[ $quick == 1 ]]; then
        echo "Quick trial run: too few starts and too short idle windows for figures to compare."
    fi
    if ((${#tainted[@]})); then
        echo "* a peer (simulator or test run elsewhere) connected to port 6666: not a figure without a watch."
    fi
    if ((${#notes[@]})); then
        echo
        echo "Notes:"
        printf '  %s\n' "${notes[@]}"
    fi
    if [[ -n $warnings ]]; then
        echo
        echo "Warnings in the program's logs (count over $run_count starts):"
        echo "$warnings"
    fi
}
