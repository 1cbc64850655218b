#!/usr/bin/env bash
# The engine end to end on the local mail store beside the mailbox file: the same N generated
# messages (bench/sources/mailbox_generator) as one Netscape mailbox and as a Maildir of N
# files, the five templates of bench/five_templates.sh, `txengine /sx` with "NETSCAPE",
# "EXTENDED MAPI" and "SIMPLE MAPI". Prints messages/s, MB/s, peak resident memory and the
# CPU seconds used (on a shared machine the wall time says more about the neighbours).
#
#   bash bench/maildir_run.sh [N]      (default 10000; builds a Release tree in build-bench/)
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
n=${1:-10000}
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALLIX_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench --target txengine mailbox_gen maildir_gen >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home/templates" "$work/config/Vantroy Technologies" "$work/out"
. bench/five_templates.sh "$work/home/templates"
build-bench/bench/mailbox_gen "$n" "$work/inbox.mbox" >/dev/null
build-bench/bench/maildir_gen "$n" "$work/Maildir" >/dev/null

run() {  # run LABEL USESOURCE INPUT-BYTES
    local label=$1 source=$2 bytes=$3
    rm -f "$work"/out/*.csv "$work/home/"*.Log
    printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=%s\r\nLocalFileName=%s\r\nProfile=%s\r\nDeleteFlag=0\r\n' \
        "$work/home/templates" "$source" "$work/inbox.mbox" "$work/Maildir" >"$work/config/Vantroy Technologies/Tallix.ini"
    local start end seconds rss="" cpu=""
    start=$(date +%s.%N)
    if [ -x /usr/bin/time ]; then
        (cd "$work/out" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM MAILDIR="$work/Maildir" \
            TALLIX_HOME="$work/home" XDG_CONFIG_HOME="$work/config" /usr/bin/time -f '%M %U %S' -o "$work/rss" \
            "$root/build-bench/bin/txengine" /sx </dev/null) 2>/dev/null || true
        read -r rss user sys <"$work/rss"
        cpu=$(echo "$user + $sys" | bc -l)
    else
        (cd "$work/out" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM MAILDIR="$work/Maildir" \
            TALLIX_HOME="$work/home" XDG_CONFIG_HOME="$work/config" "$root/build-bench/bin/txengine" /sx </dev/null) || true
    fi
    end=$(date +%s.%N)
    seconds=$(echo "$end - $start" | bc -l)
    printf '%-14s %8d messages %7.1f MB %7.2f s %9.0f messages/s %7.1f MB/s  peak RSS %s  CPU %s s\n' "$label" "$n" \
        "$(echo "$bytes / 1000000" | bc -l)" "$seconds" "$(echo "$n / $seconds" | bc -l)" \
        "$(echo "$bytes / 1000000 / $seconds" | bc -l)" "${rss:+$((rss / 1024)) MB}" "${cpu:-?}"
    grep -h 'Parsed:' "$work/home/txSystem.Log" | tail -n 1 | sed 's/\r$//;s/^/    /'
    [ ! -s "$work/home/txError.Log" ] || { echo "    errors logged:"; head -n 5 "$work/home/txError.Log" | sed 's/^/    /'; }
}
mbox_bytes=$(stat -c %s "$work/inbox.mbox")
maildir_bytes=$(du -sb "$work/Maildir" | cut -f1)
run "mailbox file" NETSCAPE "$mbox_bytes"
run "EXTENDED MAPI" "EXTENDED MAPI" "$maildir_bytes"
run "SIMPLE MAPI" "SIMPLE MAPI" "$maildir_bytes"
