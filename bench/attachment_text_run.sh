#!/usr/bin/env bash
# PDF attachments read as text: N messages each carrying a one-page invoice PDF, one template
# that takes the invoice number from the attachment, `txengine /sx` once with the PDF read and
# once with PDF in extensions.txt (the attachment decoded but not read). Prints messages/s of
# both runs and the share of the first run's time spent reading the PDFs.
#
#   bash bench/attachment_text_run.sh [N]   (default 1000; TALLIX_BIN names the directory
#                                            holding txengine, default build/bin)
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-1000}
bin=${TALLIX_BIN:-$PWD/build/bin}
work=$(mktemp -d)
trap '[ -n "${KEEP_WORK:-}" ] || rm -rf "$work"' EXIT
mkdir -p "$work/home/templates" "$work/config/Vantroy Technologies" "$work/out" "$work/files"
python3 tests/engine/attachment_files.py "$work/files" >/dev/null
python3 - "$work/files/invoice.pdf" "$work/mail.mbox" "$n" <<'PY'
import base64, sys
data = base64.b64encode(open(sys.argv[1], "rb").read())
body = b"".join(data[i:i + 76] + b"\r\n" for i in range(0, len(data), 76))
with open(sys.argv[2], "wb") as out:
    for i in range(int(sys.argv[3])):
        out.write(b"From - Tue Dec 08 10:00:00 2026\r\nFrom: Ann <ann@example.org>\r\nTo: shop@example.com\r\n"
                  b"Subject: invoice %d\r\nDate: Tue, 08 Dec 2026 10:00:00 +0000\r\nMIME-Version: 1.0\r\n"
                  b"Content-Type: multipart/mixed; boundary=\"=_part_boundary_7\"\r\n\r\n--=_part_boundary_7\r\n"
                  b"Content-Type: text/plain\r\n\r\nYour invoice.\r\n--=_part_boundary_7\r\n"
                  b"Content-Type: application/pdf; name=\"invoice.pdf\"\r\nContent-Disposition: attachment; filename=\"invoice.pdf\"\r\n"
                  b"Content-Transfer-Encoding: base64\r\n\r\n"
                  % i + body + b"--=_part_boundary_7--\r\n\r\n")
PY
printf '[General]\r\nActive=True\r\nNum_Variables=1\r\nLast_Ran=Never\r\n[Filter]\r\nCommand=<NONE>\r\nFind_String=\r\n[Variables]\r\nVar1=Invoice;ATTACHMENT;Invoice number:;{End of Line};0;0;0;0;0\r\n[Output]\r\nAllowDuplicate=True\r\nFile=invoices.csv\r\nDelimiter=COMMA\r\nOutput_Count=1\r\nOutput1=Invoice\r\n[Scripts]\r\nrun=\r\n' \
    >"$work/home/templates/Invoices.txf"
printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=NETSCAPE\r\nLocalFileName=%s\r\nDeleteFlag=0\r\n' \
    "$work/home/templates" "$work/mail.mbox" >"$work/config/Vantroy Technologies/Tallix.ini"
run() {  # run LABEL: prints messages/s, leaves the seconds in $took
    rm -f "$work/out/invoices.csv"
    local start end
    start=$(date +%s.%N)
    (cd "$work/out" && env -u DISPLAY -u WAYLAND_DISPLAY TALLIX_HOME="$work/home" \
        XDG_CONFIG_HOME="$work/config" "$bin/txengine" /sx </dev/null >/dev/null 2>&1)
    end=$(date +%s.%N)
    took=$(echo "$end - $start" | bc -l)
    printf '%-34s %6d messages %7.2f s %8.0f messages/s\n' "$1" "$n" "$took" "$(echo "$n / $took" | bc -l)"
}
printf '' >"$work/home/extensions.txt"
run "PDF read as text"
read=$took
grep -c INV-2041 "$work/out/invoices.csv" >/dev/null || { echo "no invoice number was found" >&2; exit 1; }
printf 'PDF\r\n' >"$work/home/extensions.txt"
run "PDF excluded (decoded, not read)"
printf 'share of the time reading the PDFs: %.0f%%\n' "$(echo "100 * ($read - $took) / $read" | bc -l)"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
