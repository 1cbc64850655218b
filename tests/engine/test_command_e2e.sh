#!/usr/bin/env bash
# txengine /test end to end: over the example mailbox (compared with what a real run then
# writes), over one .eml message, over the configured source, and with wrong arguments. The
# trial must leave every file outside its scratch directory as it was.
set -u
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
examples="$TALLIX_SOURCE/examples"

mkdir -p "$work/reports" "$work/home/templates" "$work/config/Vantroy Technologies" "$work/out" "$work/tmp"
cp "$examples"/*.txf "$work/home/templates/"
cp "$examples/sample-inbox.mbox" "$work/inbox.mbox"
printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=NETSCAPE\r\nLocalFileName=%s\r\nDeleteFlag=2\r\nUseScripts=True\r\nScriptEngine=JavaScript\r\nScriptDir=%s\r\n' \
    "$work/home/templates" "$work/inbox.mbox" "$examples/scripts/javascript" \
    >"$work/config/Vantroy Technologies/Tallix.ini"
engine() {
    (cd "$work/out" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TMPDIR="$work/tmp" \
        TALLIX_HOME="$work/home" XDG_CONFIG_HOME="$work/config" "$TALLIX_BIN/txengine" "$@" </dev/null)
}
# Every file's bytes and modification time, the scratch area left out.
state() { (cd "$work" && find . \( -path ./tmp -o -path ./reports \) -prune -o -type f -printf '%p %T@ %s\n' -exec md5sum {} \; | sort); }

before=$(state)
engine /test Orders >"$work/reports/orders.txt" 2>"$work/reports/orders.err"
status=$?
[ "$status" = 0 ] || fail "/test Orders exit $status: $(cat "$work/reports/orders.err")"
[ "$(state)" = "$before" ] || fail "/test changed files: $(diff <(echo "$before") <(state))"
[ -z "$(ls -A "$work/tmp")" ] || fail "scratch directory left behind: $(ls -A "$work/tmp")"
grep -q '^Message 1: Order confirmation 4700$' "$work/reports/orders.txt" || fail "message 1 missing"
grep -q '^  Filter: matched$' "$work/reports/orders.txt" || fail "no match shown"
grep -q '^  Filter: not matched$' "$work/reports/orders.txt" || fail "no miss shown"
grep -q '^  OrderNo = "4700"$' "$work/reports/orders.txt" || fail "variable value missing"
grep -q '^Summary: 30 messages, 10 matched, 10 lines, 0 duplicates, 0 failed; nothing was written$' \
    "$work/reports/orders.txt" || fail "summary: $(tail -1 "$work/reports/orders.txt")"

# A real run of the same template writes exactly the lines the trial showed (and, with
# DeleteFlag=2, would delete nothing: the mailbox source never deletes).
engine /sx /f Orders >/dev/null 2>&1
sed -n 's/^  Line: //p' "$work/reports/orders.txt" | sed 's/$/\r/' >"$work/reports/expected.csv"
cmp -s "$work/out/orders.csv" "$work/reports/expected.csv" || fail "run and trial differ: $(diff "$work/out/orders.csv" "$work/reports/expected.csv")"

# Now every line is in the output file: a second trial holds all of them back as duplicates.
engine /test orders >"$work/reports/again.txt" 2>&1
grep -q 'Summary: 30 messages, 10 matched, 0 lines, 10 duplicates' "$work/reports/again.txt" || fail "duplicates: $(tail -1 "$work/reports/again.txt")"
grep -q '(not written: a duplicate)' "$work/reports/again.txt" || fail "duplicate not marked"

# The scripts' file write is shown, not done.
rm -f "$work/out/large-orders.txt"
engine /test OrderSizes >"$work/reports/sizes.txt" 2>&1 || fail "/test OrderSizes failed"
grep -q '^  Not done: System.AppendLine large-orders.txt: Order 4705' "$work/reports/sizes.txt" || fail "script write not shown"
[ ! -e "$work/out/large-orders.txt" ] || fail "the trial's script wrote large-orders.txt"

# One message file, with LF line ends and a control character in a value.
printf 'From: Shop <orders@shop.example>\nSubject: Order confirmation 77\n\nOrder number: 77\nCustomer: Tab\tName\nItem: Cup\nTotal: 3.00 EUR\n' >"$work/one.eml"
before=$(state)
engine /test Orders "$work/one.eml" >"$work/reports/eml.txt" 2>&1 || fail "/test with .eml failed: $(cat "$work/reports/eml.txt")"
[ "$(state)" = "$before" ] || fail "/test with .eml changed files"
grep -q '^Message 1: Order confirmation 77$' "$work/reports/eml.txt" || fail ".eml subject: $(cat "$work/reports/eml.txt")"
grep -q '^  Customer = "Tab\\tName"$' "$work/reports/eml.txt" || fail "control character not shown: $(grep Customer "$work/reports/eml.txt")"
grep -q '^Summary: 1 messages, 1 matched, 1 lines' "$work/reports/eml.txt" || fail ".eml summary"

# A mailbox file named on the command line.
engine /test SupportTickets "$work/inbox.mbox" >"$work/reports/support.txt" 2>&1 || fail "/test with a mailbox failed"
grep -q '^Summary: 30 messages, ' "$work/reports/support.txt" || fail "mailbox FILE summary"

# Wrong arguments and missing things.
engine /test >/dev/null 2>"$work/reports/usage.err"; [ $? = 2 ] || fail "no NAME: not 2"
grep -q 'Usage: txengine /test NAME \[FILE\]' "$work/reports/usage.err" || fail "usage text"
engine /test NoSuchTemplate >/dev/null 2>&1; [ $? = 1 ] || fail "missing template: not 1"
engine /test Orders "$work/none.eml" >/dev/null 2>"$work/reports/none.err"; [ $? = 1 ] || fail "missing file: not 1"
grep -q 'none.eml' "$work/reports/none.err" || fail "missing file not named"
[ ! -e "$work/home/txError.Log" ] || fail "/test wrote the error log: $(cat "$work/home/txError.Log")"

# On a fresh program directory (default directories, nothing stored) the trial makes nothing:
# the default template and script directories a run makes at its start are not made by /test.
mkdir -p "$work/fresh/home" "$work/fresh/config"
(cd "$work/out" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TMPDIR="$work/tmp" \
    TALLIX_HOME="$work/fresh/home" XDG_CONFIG_HOME="$work/fresh/config" \
    "$TALLIX_BIN/txengine" /test Orders </dev/null >/dev/null 2>&1)
[ $? = 1 ] || fail "fresh /test: not 1"
[ -z "$(ls -A "$work/fresh/home" "$work/fresh/config" | grep -v ':$' | grep -v '^$')" ] ||
    fail "fresh /test made: $(ls -AR "$work/fresh")"

# The help names the switch.
engine /? | grep -q '/test NAME \[FILE\]' || fail "/? does not show /test"
echo ok
