#!/usr/bin/env bash
# The real txengine offering each message to a template once: a mailbox file read twice gives
# its lines once; a message appended between runs gives exactly its lines; "/forget" makes the
# next run offer the messages again; the template's key wins over the setting both ways; a
# damaged record ends the run before any message is read; two engines at once: the second
# waits, then refuses; a template that stopped matching is named in the system log.
set -u
data="$TALLIX_TEST_DATA/e2e"
. "$(dirname "$0")/../support/e2e_lib.sh"
work=$(mktemp -d)
holder_pid=
trap '[ -n "$holder_pid" ] && kill -KILL "$holder_pid" 2>/dev/null; rm -rf "$work"' EXIT

# prepare DIR MAILBOX [SETTING-LINES]: a program directory with the Orders template over the
# standard mbox file MAILBOX.
prepare() {
    local dir=$1 mailbox=$2 extra=${3:-}
    mkdir -p "$dir/home/templates" "$dir/config/Vantroy Technologies" "$dir/out"
    cp "$data/Orders.txf" "$dir/home/templates/"
    printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=FILE_OTHER\r\nLocalFileName=%s\r\nDeleteFlag=0\r\n%b' \
        "$dir/home/templates" "$mailbox" "$extra" >"$dir/config/Vantroy Technologies/Tallix.ini"
}

# order N CODE [SUBJECT]: one message of a standard mbox file, with a Message-ID.
order() {
    printf 'From ann@example.org Mon Mar  2 09:00:00 2026\nFrom: Ann <ann@example.org>\n'
    printf 'Message-ID: <%s@example.org>\nSubject: %s\n\nCode: %s\n\n' "$1" "${3:-order $1}" "$2"
}

lines() { if [ -e "$1" ]; then wc -l <"$1"; else echo 0; fi; }

# Read twice: nothing the second time; then one appended message gives exactly its line.
dir="$work/twice"
{ order 1 C-1; order 2 C-2; order 3 C-3; } >"$work/twice.mbox"
prepare "$dir" "$work/twice.mbox" 'ProcessOnce=True\r\n'
run_engine "$dir"
expect_status twice 0
[ "$(lines "$dir/out/orders.csv")" = 3 ] || fail "twice: first run wrote $(lines "$dir/out/orders.csv") lines"
[ "$(stat -c %a "$dir/home/Processed.db")" = 600 ] || fail "twice: the record is not private"
run_engine "$dir"
expect_status twice 0
[ "$(lines "$dir/out/orders.csv")" = 3 ] || fail "twice: the second run wrote lines again"
order 4 C-4 >>"$work/twice.mbox"
run_engine "$dir"
[ "$(lines "$dir/out/orders.csv")" = 4 ] || fail "twice: the appended message: $(cat "$dir/out/orders.csv")"
[ "$(tail -n 1 "$dir/out/orders.csv" | cut -d, -f1)" = C-4 ] || fail "twice: last line is not the new message's"

# A message without a Message-ID is known by its header block.
printf 'From ann@example.org Mon Mar  2 09:00:00 2026\nFrom: Ann <ann@example.org>\nSubject: order x\n\nCode: C-X\n\n' \
    >>"$work/twice.mbox"
run_engine "$dir"
run_engine "$dir"
[ "$(grep -c '^C-X,' "$dir/out/orders.csv")" = 1 ] || fail "twice: a message without Message-ID: $(cat "$dir/out/orders.csv")"

# /forget: says how many entries it removed; the next run offers every message again.
(cd "$dir/out" && TALLIX_HOME="$dir/home" XDG_CONFIG_HOME="$dir/config" \
    "$TALLIX_BIN/txengine" /forget Orders >"$dir/forget.out" 2>&1) || fail "forget: $(cat "$dir/forget.out")"
grep -q '^Removed 5 entries of template Orders from ' "$dir/forget.out" || fail "forget: $(cat "$dir/forget.out")"
run_engine "$dir"
[ "$(lines "$dir/out/orders.csv")" = 10 ] || fail "forget: the run after /forget wrote $(lines "$dir/out/orders.csv")"
(cd "$dir/out" && TALLIX_HOME="$dir/home" XDG_CONFIG_HOME="$dir/config" \
    "$TALLIX_BIN/txengine" /forget all >"$dir/forget.out" 2>&1) || fail "forget all: $(cat "$dir/forget.out")"
grep -q '^Removed 5 entries of every template' "$dir/forget.out" || fail "forget all: $(cat "$dir/forget.out")"

# The template's key wins: off in a template under the setting on, on in one under the
# setting off (the setting missing). A template saved by the editor keeps its bytes either way.
dir="$work/override"
prepare "$dir" "$work/twice.mbox" 'ProcessOnce=True\r\n'
sed 's|^Active=True|Active=True\r\nProcessOnce=False|' "$data/Orders.txf" >"$dir/home/templates/Orders.txf"
run_engine "$dir"
run_engine "$dir"
[ "$(lines "$dir/out/orders.csv")" = 10 ] || fail "override off: $(lines "$dir/out/orders.csv") lines"
dir="$work/override-on"
prepare "$dir" "$work/twice.mbox"
sed 's|^Active=True|Active=True\r\nProcessOnce=True|' "$data/Orders.txf" >"$dir/home/templates/Orders.txf"
run_engine "$dir"
run_engine "$dir"
[ "$(lines "$dir/out/orders.csv")" = 5 ] || fail "override on: $(lines "$dir/out/orders.csv") lines"
# Both kinds in one run: a message the recording template has had is still read whole for the
# template that does not record (its lines keep their values).
dir="$work/mixed"
prepare "$dir" "$work/twice.mbox" 'ProcessOnce=True\r\n'
sed 's|^Active=True|Active=True\r\nProcessOnce=False|; s|^File=orders.csv|File=every.csv|' \
    "$data/Orders.txf" >"$dir/home/templates/Every.txf"
run_engine "$dir"
run_engine "$dir"
[ "$(lines "$dir/out/orders.csv")" = 5 ] || fail "mixed: recording template: $(lines "$dir/out/orders.csv") lines"
[ "$(grep -c '^C-[0-9X]*,"Ann",ann@example.org,' "$dir/out/every.csv")" = 10 ] ||
    fail "mixed: the other template's lines: $(cat "$dir/out/every.csv")"

# Without the setting and the key nothing is recorded.
dir="$work/off"
prepare "$dir" "$work/twice.mbox"
run_engine "$dir"
run_engine "$dir"
[ "$(lines "$dir/out/orders.csv")" = 10 ] || fail "off: $(lines "$dir/out/orders.csv") lines"
[ ! -e "$dir/home/Processed.db" ] || fail "off: a record was made"

# A damaged record: the run ends before reading any message, with a report and status 1.
dir="$work/damaged"
prepare "$dir" "$work/twice.mbox" 'ProcessOnce=True\r\n'
head -c 8192 /dev/urandom >"$dir/home/Processed.db"
run_engine "$dir"
expect_status damaged 1
[ ! -e "$dir/out/orders.csv" ] || fail "damaged: lines were written"
grep -q 'record of processed messages cannot be used' "$dir/home/txError.Log" ||
    fail "damaged: no report: $(cat "$dir/home/txError.Log" 2>&1)"

# Two engines: the second waits while the first holds the lock, then refuses, reading and
# writing nothing. The lock is held here as a run holds it (flock on the lock file).
dir="$work/two"
prepare "$dir" "$work/twice.mbox"
python3 -c 'import fcntl, sys, time
f = open(sys.argv[1], "a"); fcntl.flock(f, fcntl.LOCK_EX); open(sys.argv[2], "w").close(); time.sleep(60)' \
    "$dir/home/txengine.lock" "$work/held" &
holder_pid=$!
for _ in $(seq 300); do [ -e "$work/held" ] && break; sleep 0.05; done
[ -e "$work/held" ] || fail "two: the lock was not taken by the test"
start=$(date +%s.%N)
run_engine "$dir" TALLIX_RUN_LOCK_WAIT=1.5
waited=$(echo "$(date +%s.%N) - $start" | bc)
expect_status two 1
grep -q 'Another run is in progress' "$dir/home/txError.Log" || fail "two: no report"
[ ! -e "$dir/out/orders.csv" ] || fail "two: the second engine wrote lines"
[ "$(echo "$waited >= 1.4" | bc)" = 1 ] || fail "two: did not wait ($waited s)"
kill "$holder_pid"
wait "$holder_pid" 2>/dev/null
holder_pid=
# Once the first has ended, the next one runs.
run_engine "$dir" TALLIX_RUN_LOCK_WAIT=1.5
expect_status two 0
[ "$(lines "$dir/out/orders.csv")" = 5 ] || fail "two: the later engine did not run"

# Two real engines started together over a run long enough to overlap: one runs, the other
# waits and refuses.
dir="$work/together"
python3 - "$work/long.mbox" <<'PY'
import sys
with open(sys.argv[1], "w") as f:
    for i in range(100000):
        f.write("From ann@example.org Mon Mar  2 09:00:00 2026\nFrom: Ann <ann@example.org>\n"
                "Subject: order %d\n\nCode: C-%d\n\n" % (i, i))
PY
prepare "$dir" "$work/long.mbox"
cp -r "$dir" "$work/together2"
rm -rf "$work/together2/home" && ln -s "$dir/home" "$work/together2/home"
run_engine "$dir" &
first=$!
# The second starts once the first holds the lock (flock -n fails while it does).
for _ in $(seq 400); do
    [ -e "$dir/home/txengine.lock" ] && ! flock -n "$dir/home/txengine.lock" true && break
    sleep 0.02
done
run_engine "$work/together2" TALLIX_RUN_LOCK_WAIT=0.5
wait "$first"
expect_status together 0
expect_status together2 1
[ "$(lines "$dir/out/orders.csv")" = 100000 ] || fail "together: the first run was disturbed"
[ ! -e "$work/together2/out/orders.csv" ] || fail "together: the second engine wrote lines"

# The stale template: three runs with a match, then one that reads a message and matches none.
dir="$work/stale"
: >"$work/stale.mbox"
prepare "$dir" "$work/stale.mbox" 'ProcessOnce=True\r\n'
for n in 1 2 3; do
    order "s$n" "S-$n" >>"$work/stale.mbox"
    run_engine "$dir"
done
! grep -q 'matched no message' "$dir/home/txSystem.Log" || fail "stale: warned too early"
# A run with nothing new offered says nothing about the filter.
run_engine "$dir"
! grep -q 'matched no message' "$dir/home/txSystem.Log" || fail "stale: warned on a run with nothing new"
order s4 S-4 "newsletter" >>"$work/stale.mbox"
run_engine "$dir"
grep -q 'Template Orders.txf matched no message in this run; it matched in each of its last 3 runs' \
    "$dir/home/txSystem.Log" || fail "stale: no warning: $(tail -5 "$dir/home/txSystem.Log")"
echo ok
