#!/usr/bin/env bash
# The engine end to end on a generated Netscape mailbox: N messages (a mix of plain, HTML,
# multipart-with-attachment and unrelated messages, or none with attachments), five
# example-like templates, `txengine /sx`. Prints messages/s, MB/s and peak resident memory.
#
#   bash bench/mailbox_run.sh [N]      (default 100000; builds a Release tree in build-bench/)
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
n=${1:-100000}
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALLIX_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench --target txengine mailbox_gen >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home/templates" "$work/config/Vantroy Technologies" "$work/out"
. bench/five_templates.sh "$work/home/templates"

run() {  # run LABEL [--no-attachments]
    local label=$1; shift
    build-bench/bench/mailbox_gen "$n" "$work/inbox.mbox" "$@" >/dev/null
    rm -f "$work"/out/*.csv "$work/home/"*.Log
    printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=NETSCAPE\r\nLocalFileName=%s\r\nDeleteFlag=0\r\n' \
        "$work/home/templates" "$work/inbox.mbox" >"$work/config/Vantroy Technologies/Tallix.ini"
    local bytes start end seconds rss=""
    bytes=$(stat -c %s "$work/inbox.mbox")
    start=$(date +%s.%N)
    if [ -x /usr/bin/time ]; then
        (cd "$work/out" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TALLIX_HOME="$work/home" \
            XDG_CONFIG_HOME="$work/config" /usr/bin/time -f '%M' -o "$work/rss" "$root/build-bench/bin/txengine" /sx </dev/null) 2>/dev/null || true
        rss=$(cat "$work/rss")
    else
        (cd "$work/out" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TALLIX_HOME="$work/home" \
            XDG_CONFIG_HOME="$work/config" "$root/build-bench/bin/txengine" /sx </dev/null) || true
    fi
    end=$(date +%s.%N)
    seconds=$(echo "$end - $start" | bc -l)
    printf '%-18s %8d messages %7.1f MB %7.2f s %9.0f messages/s %7.1f MB/s  peak RSS %s\n' "$label" "$n" \
        "$(echo "$bytes / 1000000" | bc -l)" "$seconds" "$(echo "$n / $seconds" | bc -l)" \
        "$(echo "$bytes / 1000000 / $seconds" | bc -l)" "${rss:+$((rss / 1024)) MB}"
    grep -h 'Parsed:' "$work/home/txSystem.Log" | tail -n 1 | sed 's/\r$//;s/^/    /'
    [ ! -s "$work/home/txError.Log" ] || { echo "    errors logged:"; head -n 5 "$work/home/txError.Log" | sed 's/^/    /'; }
}
run mixed
run "no attachments" --no-attachments
