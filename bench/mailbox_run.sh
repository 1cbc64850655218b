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
template() {  # template NAME FILTER-FIELD FIND VARS... (last arg: output definition)
    local name=$1 field=$2 find=$3; shift 3
    local out=${!#} i=1
    {
        printf '[General]\r\nActive=True\r\nNum_Variables=%d\r\nLast_Ran=Never\r\n' $(($# - 1))
        printf '[Filter]\r\nCommand=%s\r\nFind_String=%s\r\n[Variables]\r\n' "$field" "$find"
        while [ $# -gt 1 ]; do printf 'Var%d=%s\r\n' $i "$1"; i=$((i + 1)); shift; done
        printf '[Output]\r\nAllowDuplicate=%s\r\nFile=%s.csv\r\nDelimiter=COMMA\r\nOutput_Count=1\r\nOutput1=%s\r\n[Scripts]\r\nrun=\r\n' \
            "$([ "$name" = Contacts ] && echo False || echo True)" "$name" "$out"
    } >"$work/home/templates/$name.txf"
}
template Orders MSG_SUBJECT "Order confirmation" "Order;MSG_TEXT;Order:;{End of Line};0;0;1;0;1" \
    "Name;MSG_TEXT;Name:;{End of Line};1;0;1;0;1" "Total;MSG_TEXT;Total:;{End of Line};0;0;1;0;0" "Order,Name,Total"
template Contacts MSG_SUBJECT "Contact form" "Name;MSG_TEXT;Name:;{End of Line};1;0;1;0;1" \
    "Message;MSG_TEXT;Message:;{End of Line};1;1;1;0;0" "Name,Message"
template Senders "<NONE>" "" "Sender;SENDER_NAME;;;1;0;1;0;0" "Address;SENDER_ADDRESS;;;0;0;1;0;0" "Sender,Address"
template Attachments ATTACHMENT "Order" "Order;ATTACHMENT;Order:;{End of Line};0;0;1;0;0" "Order"
template Dates MSG_SUBJECT "news" "Subject;MSG_SUBJECT;;;1;0;1;0;0" "Sent;MSG_SENT_DATE;;;0;0;1;0;0" "Subject,Sent"

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
