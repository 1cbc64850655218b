#!/usr/bin/env bash
# The real txengine in watch mode (/sx /watch) over a Maildir and over a mailbox file: the
# first run reads what is there, a message delivered afterwards is written within 2 s, each
# message once (watch mode turns ProcessOnce on and logs it), and SIGTERM ends it with exit
# status 0.
set -u
data="$TALLIX_TEST_DATA/e2e"
. "$(dirname "$0")/../support/e2e_lib.sh"
work=$(mktemp -d)
engine_pid=
trap '[ -n "$engine_pid" ] && kill -KILL "$engine_pid" 2>/dev/null; rm -rf "$work"' EXIT

# message CODE: one order mail (a Maildir file, or an mbox message after a "From " line).
message() {
    printf 'From: Ann <ann@example.org>\nMessage-ID: <%s@example.org>\nSubject: order %s\n\nCode: %s\n' "$1" "$1" "$1"
}

lines() { if [ -e "$1" ]; then wc -l <"$1"; else echo 0; fi; }

# wait_lines FILE N SECONDS: FILE has N lines within SECONDS; prints the time it took.
wait_lines() {
    local start end
    start=$(date +%s%N)
    end=$((start + $3 * 1000000000))
    while [ "$(lines "$1")" -lt "$2" ]; do
        [ "$(date +%s%N)" -lt "$end" ] || return 1
        sleep 0.05
    done
    echo $((($(date +%s%N) - start) / 1000000))
}

# watch_case NAME USESOURCE PROFILE MAILBOX DELIVER: starts the watching engine, checks the
# first run, delivers one message with DELIVER and checks that it is written in time, then
# stops the engine.
watch_case() {
    local name=$1 source=$2 profile=$3 mailbox=$4 deliver=$5
    local dir="$work/$name"
    mkdir -p "$dir/home/templates" "$dir/config/Vantroy Technologies" "$dir/out"
    cp "$data/Orders.txf" "$dir/home/templates/"
    printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=%s\r\nProfile=%s\r\nLocalFileName=%s\r\nDeleteFlag=0\r\n' \
        "$dir/home/templates" "$source" "$profile" "$mailbox" >"$dir/config/Vantroy Technologies/Tallix.ini"
    (cd "$dir/out" && exec env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
        TALLIX_HOME="$dir/home" XDG_CONFIG_HOME="$dir/config" \
        "$TALLIX_BIN/txengine" /sx /watch </dev/null >"$dir/stdout" 2>"$dir/stderr") &
    engine_pid=$!
    wait_lines "$dir/out/orders.csv" 1 20 >/dev/null || fail "$name: the first run wrote nothing"
    # The watch is in place before the first run; give the run time to end.
    sleep 0.5
    "$deliver" W-2
    took=$(wait_lines "$dir/out/orders.csv" 2 2) || fail "$name: the new message was not written within 2 s"
    echo "$name: new message written after $took ms"
    "$deliver" W-3
    wait_lines "$dir/out/orders.csv" 3 2 >/dev/null || fail "$name: the third message was not written within 2 s"
    sleep 0.5
    [ "$(lines "$dir/out/orders.csv")" = 3 ] || fail "$name: lines written again: $(cat "$dir/out/orders.csv")"
    kill -TERM "$engine_pid"
    local status
    for _ in $(seq 50); do kill -0 "$engine_pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$engine_pid" 2>/dev/null && fail "$name: still running 5 s after SIGTERM"
    wait "$engine_pid"
    status=$?
    engine_pid=
    [ "$status" = 0 ] || fail "$name: exit status $status after SIGTERM, $(cat "$dir/stderr")"
    grep -q 'Watch mode: each message is offered to each template once' "$dir/home/txSystem.Log" ||
        fail "$name: watch mode did not log ProcessOnce"
    grep -q 'Watching for new mail: inotify on ' "$dir/home/txSystem.Log" || fail "$name: not watched with inotify"
}

# A Maildir: a delivery is written to tmp/ and renamed into new/.
maildir="$work/Maildir"
mkdir -p "$maildir/new" "$maildir/cur" "$maildir/tmp"
n=0
deliver_maildir() {
    n=$((n + 1))
    local file="$((1772442000 + n)).M${n}P1.test"
    message "$1" >"$maildir/tmp/$file"
    mv "$maildir/tmp/$file" "$maildir/new/$file"
}
deliver_maildir W-1
watch_case maildir "EXTENDED MAPI" "$maildir" "" deliver_maildir

# A standard mbox file: a delivery is appended.
mbox="$work/inbox.mbox"
deliver_mbox() {
    { printf 'From ann@example.org Mon Mar  2 09:00:00 2026\n'; message "$1"; printf '\n'; } >>"$mbox"
}
deliver_mbox W-1
watch_case mailbox FILE_OTHER "" "$mbox" deliver_mbox
echo ok
