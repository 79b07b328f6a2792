#!/usr/bin/env bash
# Installs the Debian package on this machine as a user would (apt-get install ./corvane_*.deb),
# runs the installed program as an unprivileged user's session would (private home and XDG
# folders, offscreen, hidden) with the simulated watch from the build tree, sees the watch
# authorised, quits the program, purges the package and checks that none of its files is
# left behind. Needs root and ports 6666 and 19022 free; CI runs it on its fresh machine.
#   scripts/package-check.sh
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

if [ "$(id -u)" -ne 0 ]; then
    echo "package-check: needs root (it installs and removes the package)" >&2
    exit 2
fi
# dpkg's state of the package: empty or "not-installed" when it is not on the machine.
package_state() { dpkg-query -W -f='${db:Status-Status}' corvane 2>/dev/null || true; }
if [ -n "$(package_state)" ] && [ "$(package_state)" != not-installed ]; then
    echo "package-check: corvane is on this machine already; this check would remove it" >&2
    exit 2
fi

deb=$(bash scripts/package.sh | grep '/corvane_[^/]*\.deb$')
sim=$root/build/bin/gadget-sim
user=nobody
work=$(mktemp -d)
program_pid=""
sim_pid=""
installed=no
pulled=()

cleanup() {
    for pid in $program_pid $sim_pid; do
        kill "$pid" 2>/dev/null || true
    done
    if [ "$installed" = yes ]; then
        apt-get purge -y -qq corvane "${pulled[@]}" >/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
    echo "package-check: FAIL: $*" >&2
    failures=$((failures + 1))
}
# Waits up to 30 s until the file holds the text.
wait_for() {
    local file=$1 text=$2
    for _ in $(seq 300); do
        grep -qF -- "$text" "$file" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

# What the install will pull in besides the package, from apt's own plan.
mapfile -t pulled < <(apt-get -s install "$deb" | awk '$1 == "Inst" && $2 != "corvane" {print $2}')
echo "package-check: installing $deb${pulled:+ (and ${pulled[*]})}"
installed=yes
# A path, not a name, as in a user's `apt install ./corvane_*.deb`.
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null
mapfile -t owned < <(dpkg -L corvane)
[ -x /usr/bin/corvane ] || fail "/usr/bin/corvane is not installed"

# A user's session: its own home and XDG folders, no display.
for folder in home config cache data runtime tmp; do
    mkdir -p "$work/$folder"
done
chmod 0700 "$work/runtime"
chown -R "$user" "$work"
session=(env -i PATH=/usr/bin:/bin "HOME=$work/home" "XDG_CONFIG_HOME=$work/config"
    "XDG_CACHE_HOME=$work/cache" "XDG_DATA_HOME=$work/data" "XDG_RUNTIME_DIR=$work/runtime"
    "TMPDIR=$work/tmp" LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen
    # The check stays on this machine: no web service, no time server.
    CORVANE_SERVICE_ORIGIN=https://127.0.0.1:9 CORVANE_NTP_HOST=127.0.0.1)
log=$work/run.log
# setpriv runs the program itself (no process in between), so that the signal below reaches it.
setpriv --reuid="$user" --regid=nogroup --clear-groups -- \
    "${session[@]}" /usr/bin/corvane --hidden --debug-file "$log" >"$work/program.out" 2>&1 &
program_pid=$!
"$sim" --reconnect --reconnect-delay 100 >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!

wait_for "$work/sim.out" "EVENT key-accepted" || fail "the watch's keys were not accepted"
wait_for "$log" "authorize: gadget authorized with 51 parameters" ||
    fail "the program did not authorise the watch"

# Quit as the desktop quits it at log-out.
kill -TERM "$program_pid"
status=0
wait "$program_pid" || status=$?
program_pid=""
[ "$status" -eq 0 ] || fail "the program ended with status $status"
wait_for "$work/sim.out" "EVENT detached" || fail "the program did not tell the watch it left"
grep -qF "~SlAppLogic" "$log" || fail "the program did not shut down in order"
kill -TERM "$sim_pid"
wait "$sim_pid" || true
sim_pid=""
[ -f "$work/config/Corvane/Corvane/settings.sqlite" ] || fail "no settings were written"

echo "package-check: purging corvane"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq corvane >/dev/null
installed=no
# Folders shared with other packages stay; the package's own files and folders go.
for path in "${owned[@]}"; do
    if [ -d "$path" ] && [ ! -L "$path" ]; then
        if [[ "$path" == *corvane* ]]; then
            fail "folder left behind: $path"
        fi
    elif [ -e "$path" ] || [ -L "$path" ]; then
        fail "file left behind: $path"
    fi
done
[ -z "$(package_state)" ] || [ "$(package_state)" = not-installed ] ||
    fail "dpkg still has corvane as $(package_state)"
# What the install pulled in goes too, so that the machine is left as it was found.
if [ ${#pulled[@]} -gt 0 ]; then
    echo "package-check: removing what the install pulled in: ${pulled[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${pulled[@]}" >/dev/null
fi

if [ "$failures" -ne 0 ]; then
    echo "--- program log" >&2
    tail -n 40 "$log" "$work/program.out" >&2 || true
    echo "--- simulated watch" >&2
    tail -n 20 "$work/sim.out" "$work/sim.err" >&2 || true
    exit 1
fi
echo "package-check: installed, authorised the simulated watch, quit cleanly, removed without a trace"
