#!/usr/bin/env bash
# The real txengine over a mailbox file with templates that use the newer keys: any header by
# name (folded, encoded, repeated, absent, and as the filter), patterns (with ";", with and
# without a group, one that runs away, one that does not compile), repeated variables, a line
# per attachment with its name, size and type, CSV read back by Python's csv module, JSON Lines
# read back by its json module, the formula guard, the byte-order mark and the header row
# (written once, when the file is made), ISO dates and the semicolon delimiter.
set -u
data="$TALLIX_TEST_DATA/e2e/reach"
. "$(dirname "$0")/../support/e2e_lib.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TZ=UTC

dir="$work/reach"
mkdir -p "$dir/home/templates" "$dir/config/Vantroy Technologies" "$dir/out"
cp "$data"/*.txf "$dir/home/templates/"
printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=NETSCAPE\r\nLocalFileName=%s\r\nDeleteFlag=0\r\n' \
    "$dir/home/templates" "$data/orders.mbox" >"$dir/config/Vantroy Technologies/Tallix.ini"

start=$(date +%s)
run_engine "$dir"
expect_status reach 0
# The runaway pattern is stopped by its limits: the run goes on and ends soon.
[ $(($(date +%s) - start)) -lt 60 ] || fail "the run took too long"
run_engine "$dir"
expect_status reach 0

python3 - "$dir/out" <<'PY' || fail "files read back differ"
import csv, io, json, sys
out = sys.argv[1]

def check(what, got, want):
    if got != want:
        sys.exit(f"{what}: got {got!r}, want {want!r}")

raw = open(f"{out}/orders.csv", "rb").read()
check("byte-order mark once", raw.count(b"\xef\xbb\xbf"), 1)
check("file starts with the mark", raw[:3], b"\xef\xbb\xbf")
rows = list(csv.reader(io.StringIO(raw.decode("utf-8-sig"), newline="")))
header = ["Order", "OrderId", "Tag", "Missing", "Item", "Qty", "Note", "Sent", "Time"]
check("header row once, first", [r == header for r in rows], [True] + [False] * 10)
order = ["1001", "Bestellung Nr. M\u00fcller-1001", "first", ""]
note = "Gr\u00fc\u00dfe\r\nfrom Ann"
run = [
    order + ["Seed set, vegetables", "2", note, "2026-03-06", "14:05:00"],
    order + ['Hose "garden" 20m', "1", note, "2026-03-06", "14:05:00"],
    order + ['\'=HYPERLINK("http://x.example")', "5", note, "2026-03-06", "14:05:00"],
    ["1002", "", "", "", "Rake", "1", "", "2026-03-07", "21:30:00"],
    ["1002", "", "", "", "Gloves", "", "", "2026-03-07", "21:30:00"],
]
check("CSV rows", rows[1:], run + run)
check("CSV line ends", raw.count(b"\r\n"), 1 + 2 * (5 + 3))

lines = open(f"{out}/attachments.jsonl", "rb").read().split(b"\n")
check("JSON Lines end with LF", lines[-1], b"")
objects = [json.loads(l) for l in lines[:-1]]
one = [
    {"Subject": "Order 1001", "Name": "first.txt", "Size": "15", "Type": "text/csv", "Code": "A-1"},
    {"Subject": "Order 1001", "Name": "invoice.pdf", "Size": "27", "Type": "application/pdf", "Code": ""},
    {"Subject": "Order 1001", "Name": "logo.png", "Size": "18", "Type": "image/png", "Code": ""},
]
check("a line per attachment", objects, one + one)
check("keys in output order", list(objects[0]), ["Subject", "Name", "Size", "Type", "Code"])

check("semicolon file", open(f"{out}/semicolon.txt", "rb").read(),
      b"Subject;Sender;First;Number\r\n"
      + b'Order 1001;"Ann Smith";first.txt;1001\r\nOrder 1002;"Bob Jones";;1002\r\n' * 2)
check("runaway pattern", open(f"{out}/slow.csv", "rb").read(),
      b"Order 1001,\r\nOrder 1002,\r\nNewsletter,\r\nLarge,\r\n" * 2)
PY

# The template whose pattern does not compile is named (template, variable, position) and
# left out; the runaway pattern is logged once for its message in each run.
[ ! -e "$dir/out/bad.csv" ] || fail "the template with a broken pattern ran"
grep -q 'Bad.txf: the pattern of variable Broken does not compile at position 11' \
    "$dir/home/txError.Log" || fail "broken pattern not reported: $(cat "$dir/home/txError.Log")"
[ "$(grep -c 'variable Runaway: the pattern was stopped' "$dir/home/txError.Log")" = 2 ] ||
    fail "runaway pattern not logged once per run: $(cat "$dir/home/txError.Log")"

# txengine /test shows the form of the output and every line of a message.
(cd "$dir/out" && env -u DISPLAY TALLIX_HOME="$dir/home" XDG_CONFIG_HOME="$dir/config" \
    "$TALLIX_BIN/txengine" /test Csv "$data/orders.mbox" >"$dir/test.out" 2>&1) ||
    fail "/test failed: $(cat "$dir/test.out")"
grep -q '^Format: CSV, formula guard, byte-order mark, header row, dates ISO$' "$dir/test.out" ||
    fail "/test: no format line"
grep -q '^Repeated: Item Qty$' "$dir/test.out" || fail "/test: no repeated variables"
[ "$(grep -c '^  Line: 1001,' "$dir/test.out")" = 3 ] || fail "/test: not every line shown"
grep -q '5 lines, 0 duplicates' "$dir/test.out" || fail "/test: summary: $(tail -1 "$dir/test.out")"
echo "template reach e2e: ok"
