#!/usr/bin/env bash
# What ProcessOnce costs, end to end: `txengine /sx` with the five benchmark templates over a
# generated Netscape mailbox of N messages, run three times: ProcessOnce off; on, with an empty
# record (the first run: every message recorded); on again over the unchanged mailbox (the
# second run: every message passed over). Prints each time and the two ratios (the first run
# with ProcessOnce against without it, the second run against the first).
#
#   bash bench/process_once_run.sh [N] [BUILD-DIR]
#       (default 100000 messages; BUILD-DIR default build-bench, configured as Release here
#        when missing; an existing tree is used as it is)
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
n=${1:-100000}
build=${2:-build-bench}
if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALLIX_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target txengine mailbox_gen >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home/templates" "$work/config/Vantroy Technologies" "$work/out"
. bench/five_templates.sh "$work/home/templates"
"$build/bench/mailbox_gen" "$n" "$work/inbox.mbox" >/dev/null

declare -A took cpu
run() {  # run LABEL PROCESSONCE
    local label=$1 once=$2 start end
    rm -f "$work"/out/*.csv "$work/home/"*.Log
    printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=NETSCAPE\r\nLocalFileName=%s\r\nDeleteFlag=0\r\nProcessOnce=%s\r\n' \
        "$work/home/templates" "$work/inbox.mbox" "$once" >"$work/config/Vantroy Technologies/Tallix.ini"
    start=$(date +%s.%N)
    (cd "$work/out" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TALLIX_HOME="$work/home" \
        XDG_CONFIG_HOME="$work/config" /usr/bin/time -f '%U %S' -o "$work/cpu" \
        "$root/$build/bin/txengine" /sx </dev/null) || true
    end=$(date +%s.%N)
    took[$label]=$(echo "$end - $start" | bc -l)
    cpu[$label]=$(awk '{print $1 + $2}' "$work/cpu")
    printf '%-28s %7d messages %7.2f s (CPU %6.2f s) %7.0f messages/s  %s lines\n' "$label" "$n" \
        "${took[$label]}" "${cpu[$label]}" "$(echo "$n / ${took[$label]}" | bc -l)" \
        "$(cat "$work"/out/*.csv 2>/dev/null | wc -l)"
    [ ! -s "$work/home/txError.Log" ] || { echo "    errors logged:"; head -n 5 "$work/home/txError.Log" | sed 's/^/    /'; }
}
run "ProcessOnce off" False
rm -f "$work/home/Processed.db"*
run "ProcessOnce on, first run" True
run "ProcessOnce on, second run" True
printf 'record: %s\n' "$(du -h "$work/home/Processed.db" | cut -f1)"
ratio() {  # ratio LABEL A B LIMIT: A's time over B's, elapsed and CPU
    printf '%-38s %.2f elapsed, %.2f CPU (at most %s)\n' "$1" \
        "$(echo "${took[$2]} / ${took[$3]}" | bc -l)" "$(echo "${cpu[$2]} / ${cpu[$3]}" | bc -l)" "$4"
}
ratio "first run with ProcessOnce / without:" "ProcessOnce on, first run" "ProcessOnce off" 1.20
ratio "second run / first run:" "ProcessOnce on, second run" "ProcessOnce on, first run" 0.25
