#!/usr/bin/env bash
# The real txengine in watch mode (/sx /watch) over a Maildir, a mailbox file and IMAP folders
# on a scripted server: the first run reads what is there, a message delivered afterwards is
# written within 2 s, each message once (watch mode turns ProcessOnce on and logs it), and
# SIGTERM ends it with exit status 0. IMAP: the watch idles on each account's folder, renews
# its IDLE, opens a session the server dropped again (logged) and picks up mail after it; a
# server without IDLE is polled.
set -u
data="$TALLIX_TEST_DATA/e2e"
. "$(dirname "$0")/../support/e2e_lib.sh"
work=$(mktemp -d)
engine_pid=
server_pid=
trap '[ -n "$engine_pid" ] && kill -KILL "$engine_pid" 2>/dev/null; [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null; rm -rf "$work"' EXIT

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

# --- IMAP --------------------------------------------------------------------------------------
spool="$work/spool"
mkdir -p "$spool/idler" "$spool/dropper" "$spool/noidle1"
python3 "$TALLIX_SOURCE/tests/support/imap_scripted_server.py" "$work/imap.port" "$work/imap.log" "$spool" &
server_pid=$!
for _ in $(seq 1 50); do [ -s "$work/imap.port" ] && break; sleep 0.1; done
port=$(cat "$work/imap.port") || fail "the scripted IMAP server did not start"
# deliver_imap USER CODE: a message file appears whole in the user's folder.
k=0
deliver_imap() {
    k=$((k + 1))
    printf 'From: Ann <ann@example.org>\r\nSubject: order %s\r\n\r\nCode: %s\r\n' "$2" "$2" >"$work/m.tmp"
    mv "$work/m.tmp" "$spool/$1/$(printf '%04d' "$k")"
}
# wait_for FILE PATTERN SECONDS: FILE has a line matching PATTERN within SECONDS.
wait_for() {
    local end=$(($(date +%s) + $3))
    until grep -q "$2" "$1" 2>/dev/null; do
        [ "$(date +%s)" -lt "$end" ] || return 1
        sleep 0.1
    done
}
# start_imap_watch NAME USER... (environment as given before the call): the engine watching
# one IMAP account per user.
start_imap_watch() {
    local name=$1
    shift
    local dir="$work/$name" n=0 names="" sections=""
    mkdir -p "$dir/home/templates" "$dir/config/Vantroy Technologies" "$dir/out"
    cp "$data/Orders.txf" "$dir/home/templates/"
    printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=IMAP\r\nDeleteFlag=0\r\n' \
        "$dir/home/templates" >"$dir/config/Vantroy Technologies/Tallix.ini"
    for user in "$@"; do
        n=$((n + 1))
        names+="Config$n=$user\r\n"
        sections+="[$user]\r\nHostName=127.0.0.1\r\nPort=$port\r\nLoginName=$user\r\nPassword=pw\r\nSecurity=None\r\n"
    done
    printf "[GENERAL]\r\nCount=$n\r\n[NAMES]\r\n$names$sections" >"$dir/home/IMAP.CFG"
    (cd "$dir/out" && exec env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
        TALLIX_HOME="$dir/home" XDG_CONFIG_HOME="$dir/config" \
        "$TALLIX_BIN/txengine" /sx /watch </dev/null >"$dir/stdout" 2>"$dir/stderr") &
    engine_pid=$!
}
stop_watch() {
    local name=$1 status
    kill -TERM "$engine_pid"
    for _ in $(seq 50); do kill -0 "$engine_pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$engine_pid" 2>/dev/null && fail "$name: still running 5 s after SIGTERM"
    wait "$engine_pid"
    status=$?
    engine_pid=
    [ "$status" = 0 ] || fail "$name: exit status $status after SIGTERM, $(cat "$work/$name/stderr")"
}

# Two accounts that idle; the poll interval is far off, so only IDLE can bring the mail in
# time. The server drops the second account's first IDLE: the loss is logged, the session is
# opened again after 1 s, and mail delivered after that is still picked up at once.
deliver_imap idler I-1
deliver_imap dropper D-1
export TALLIX_POLL_SECONDS=600 TALLIX_IDLE_SECONDS=2
start_imap_watch idle idler dropper
out="$work/idle/out/orders.csv"
wait_lines "$out" 2 20 >/dev/null || fail "idle: the first run wrote $(lines "$out") lines"
sleep 0.5
deliver_imap idler I-2
took=$(wait_lines "$out" 3 2) || fail "idle: the new message was not written within 2 s"
echo "IMAP IDLE: new message written after $took ms"
wait_for "$work/idle/home/txError.Log" 'Watch mode: IMAP account dropper .*connection was lost while waiting for new mail.*trying again in 1 s' 5 ||
    fail "idle: the dropped session was not logged: $(cat "$work/idle/home/txError.Log" 2>&1)"
wait_for "$work/idle/home/txSystem.Log" 'IMAP account dropper .* is watched again' 5 ||
    fail "idle: the dropped session was not opened again"
deliver_imap dropper D-2
took=$(wait_lines "$out" 4 2) || fail "idle: mail after the reconnect was not written within 2 s"
echo "IMAP IDLE after a dropped session: new message written after $took ms"
# Each IDLE is ended and begun again after TALLIX_IDLE_SECONDS.
sleep 2.5
[ "$(grep -c '^idler: DONE$' "$work/imap.log")" -ge 1 ] || fail "idle: the IDLE was not renewed: $(grep '^idler' "$work/imap.log")"
[ "$(lines "$out")" = 4 ] || fail "idle: lines written again: $(cat "$out")"
stop_watch idle
grep -q 'Watching for new mail: IMAP IDLE on idler, dropper.$' "$work/idle/home/txSystem.Log" ||
    fail "idle: not watched with IDLE: $(grep Watching "$work/idle/home/txSystem.Log")"
echo "IMAP IDLE: ok"

# A server without IDLE is polled.
deliver_imap noidle1 N-1
export TALLIX_POLL_SECONDS=1
start_imap_watch noidle noidle1
out="$work/noidle/out/orders.csv"
wait_lines "$out" 1 20 >/dev/null || fail "noidle: the first run wrote nothing"
deliver_imap noidle1 N-2
wait_lines "$out" 2 4 >/dev/null || fail "noidle: the new message was not written after a poll"
stop_watch noidle
grep -q 'a poll every 1 s for noidle1 (no IDLE)' "$work/noidle/home/txSystem.Log" ||
    fail "noidle: $(grep Watching "$work/noidle/home/txSystem.Log")"
echo "IMAP without IDLE polled: ok"
echo ok
