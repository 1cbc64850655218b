#!/usr/bin/env bash
# The real txengine over a mailbox whose attachments are not text: a two-page PDF with a
# table, an .xlsx, an .ods and an .xls of two sheets, a PDF with an owner password only, one
# with a user password, a PDF whose page tree holds itself (no text, no hang), a zip bomb
# posing as .xlsx, a binary workbook, a winmail.dat and a forwarded message holding a CSV file
# and a forwarded message of its own. One line per attachment with its name, the value after
# "Invoice number:", its whole text and the message body's first line, read back by Python's
# csv module; the failures give empty text and one error line each, in bounded time and memory.
set -u
. "$(dirname "$0")/../support/e2e_lib.sh"
work=$(mktemp -d)
trap '[ -n "${KEEP_WORK:-}" ] || rm -rf "$work"' EXIT

dir="$work/files"
mkdir -p "$dir/home/templates" "$dir/config/Vantroy Technologies" "$dir/out" "$work/mail"
python3 "$(dirname "$0")/attachment_files.py" "$work/mail" || fail "the attachments were not made"
printf '[General]\r\nActive=True\r\nNum_Variables=4\r\nLast_Ran=Never\r\n[Filter]\r\nCommand=<NONE>\r\nFind_String=\r\n[Variables]\r\nVar1=Name;ATTACHMENT_NAME;{Beginning of Field};{End of Field};0;0;0;0;0\r\nVar2=Invoice;ATTACHMENT;Invoice number:;{End of Line};0;0;0;0;0\r\nVar3=Text;ATTACHMENT;{Beginning of Field};{End of Field};0;0;0;0;0\r\nVar4=Body;MSG_TEXT;{Beginning of Field};{End of Line};0;0;0;0;0\r\n[Output]\r\nAllowDuplicate=True\r\nFile=files.csv\r\nDelimiter=COMMA\r\nFormat=CSV\r\nPerAttachment=True\r\nOutput_Count=1\r\nOutput1=Name,Invoice,Text,Body\r\n[Scripts]\r\nrun=\r\n' \
    >"$dir/home/templates/Files.txf"
printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=NETSCAPE\r\nLocalFileName=%s\r\nDeleteFlag=0\r\n' \
    "$dir/home/templates" "$work/mail/mail.mbox" >"$dir/config/Vantroy Technologies/Tallix.ini"

start=$(date +%s)
if [ -x /usr/bin/time ]; then
    run_engine "$dir" /usr/bin/time -f '%M' -o "$work/rss"
else
    run_engine "$dir"
fi
took=$(($(date +%s) - start))
expect_status files 0
[ "$took" -lt 60 ] || fail "the run took $took s"
[ ! -s "$work/rss" ] || [ "$(tail -1 "$work/rss")" -lt 400000 ] || fail "the run took $(tail -1 "$work/rss") KB"

python3 - "$dir/out/files.csv" <<'PY' || fail "the lines read back differ: $(cat "$dir/out/files.csv")"
import csv, sys
rows = list(csv.reader(open(sys.argv[1], encoding="utf-8", newline="")))
got = {r[0]: r[1:3] for r in rows}
body = {r[0]: r[3] for r in rows}

def check(what, value, want):
    if value != want:
        sys.exit(f"{what}: got {value!r}, want {want!r}")

# winmail.dat gives way to the file inside it; a forwarded message is followed by its files.
check("files", [r[0] for r in rows],
      ["invoice.pdf", "loop.pdf", "orders.xlsx", "orders.ods", "bomb.xlsx", "binary.xlsb",
       "orders.xls", "lines.csv", "forward.eml", "items.csv", "message.eml", "locked.pdf",
       "owner.pdf"])
invoice = got["invoice.pdf"]
check("invoice number", invoice[0], "INV-2041")
lines = [l.split() for l in invoice[1].split("\r\n")]
# The table's columns stay on their lines, in reading order, both pages.
check("pdf lines", [l for l in lines if l], [["Invoice", "number:", "INV-2041"], ["Item", "Qty"],
      ["Seed", "set", "2"], ["Rake", "1"], ["Total", "due:", "41.90", "EUR"]])
check("owner password only", got["owner.pdf"], invoice)
check("xlsx", got["orders.xlsx"][1],
      'Item,Amount,Date\r\n"Seed set, vegetables",1250,2026-12-08,,TRUE\r\n'
      '"Say ""hi""",0.1,2026-12-08T12:00:00,18:00:00\r\n[Sum & more]\r\nTotal,1250.1')
check("ods", got["orders.ods"][1],
      'Item,Amount\r\n"Seed set, vegetables",1250,2026-12-08,18:00:00\r\n[Notes]\r\n'
      '"two  spaces\nsecond line"')
check("xls", got["orders.xls"][1],
      'Item,Amount,Date\r\n"Widget, large",12.5,2026-03-01\r\nBolt,3,2026-03-02\r\n[Totals]\r\n'
      'Total,15.5')
check("tnef file", got["lines.csv"][1], "Item,Qty\r\nHoe,3")
check("tnef body", body["lines.csv"], "Order 5120 from K\u00f6ln")
check("forwarded text", got["forward.eml"][1], "Order number: 4702\r\nShip to: M\u00fcnster")
check("forwarded file", got["items.csv"][1], "Item,Qty\r\nRake,1")
check("forwarded inside", got["message.eml"][1], "Deliver after 5 pm.")
check("outer body", body["forward.eml"], "See the attachment.")
for name in ("loop.pdf", "bomb.xlsx", "binary.xlsb", "locked.pdf"):
    check(name, got[name], ["", ""])
PY

errors=$(cat "$dir/home/txError.Log" 2>/dev/null)
for expected in 'Attachment locked.pdf of the message "file locked.pdf" .*: the PDF is protected by a password; its text is left empty' \
    'Attachment bomb.xlsx of the message "file bomb.xlsx" .*inflates to more than 64 MiB' \
    'Attachment binary.xlsb .*a binary workbook (.xlsb) is not read'; do
    [ "$(echo "$errors" | grep -c -- "$expected")" = 1 ] || fail "error lines: want one '$expected' in: $errors"
done
# txengine /test shows what a template searches in each attachment: the converted text.
report=$(cd "$dir/out" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TALLIX_HOME="$dir/home" \
    XDG_CONFIG_HOME="$dir/config" timeout 120 "$TALLIX_BIN/txengine" /test Files </dev/null 2>&1)
echo "$report" | grep -q 'Attachment 1 (invoice.pdf): [0-9]* bytes of text, "Invoice number: INV-2041"' ||
    fail "/test does not show the PDF's text: $report"
echo "$report" | grep -q 'Attachment 1 (orders.xlsx): [0-9]* bytes of text, "Item,Amount,Date"' ||
    fail "/test does not show the workbook's text: $report"
echo "attachments read as text: ok"
