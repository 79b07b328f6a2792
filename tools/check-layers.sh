#!/usr/bin/env bash
# Fails when a source folder includes a folder above it. The layers, bottom up:
# platform/ and crypto/, storage/, device/, model/, then time/, web/ and update/, then app/.
# update/ may also include web/.
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"

rank() {
    case "$1" in
    platform | crypto) echo 0 ;;
    storage) echo 1 ;;
    device) echo 2 ;;
    model) echo 3 ;;
    time | web | update) echo 4 ;;
    app) echo 5 ;;
    *) echo "" ;;
    esac
}

allowed() { # from to
    [[ "$1" == "$2" ]] && return 0
    [[ "$1" == update && "$2" == web ]] && return 0
    local from to
    from=$(rank "$1")
    to=$(rank "$2")
    [[ -n "$to" && "$to" -lt "$from" ]]
}

bad=0
for dir in platform crypto storage device model time web update app; do
    [[ -d "$root/$dir" ]] || continue
    while IFS= read -r line; do
        file=${line%%:*}
        target=$(sed -E 's/^[^"]*"([^/"]+)\/.*/\1/' <<<"${line#*:}")
        [[ -n "$(rank "$target")" ]] || continue
        if ! allowed "$dir" "$target"; then
            echo "layer violation: ${file#"$root"/} includes $target/" >&2
            bad=1
        fi
    done < <(grep -HE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^/"]+/' \
        "$root/$dir"/*.cpp "$root/$dir"/*.h 2>/dev/null || true)
done
exit "$bad"
