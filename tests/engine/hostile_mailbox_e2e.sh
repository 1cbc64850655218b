#!/usr/bin/env bash
# The real txengine over a mailbox in which every hostile message stands between two
# ordinary orders: a huge header, a message without the blank line after its header, an
# unterminated boundary, 10,000 nested multipart parts, 5,000 attachments in one message,
# a 1 MB body line and a 512 KB header line, attachment names that climb out of the scratch
# directory, an attachment of 4,100 MIME parts, and NUL bytes. The run must end in time,
# write the line of every ordinary order, report every limit it reached, and write no file
# outside its directories.
set -u
data="$TALLIX_TEST_DATA/e2e"
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mbox="$work/hostile.mbox"
n=0
expected=""
separator() { printf 'From - Mon Mar  2 09:%02d:00 2026\r\n' "$1"; }
# An ordinary order; its line is expected in orders.csv.
order() {
    n=$((n + 1))
    separator "$n"
    printf 'From: Ann Smith <ann@example.org>\r\nTo: Shop <shop@example.com>\r\n'
    printf 'Subject: Order %d\r\nDate: Mon, 02 Mar 2026 09:00:00 +0100\r\n\r\n' "$n"
    printf 'Code: H-%d\r\n\r\n' "$n"
    expected+="H-$n,\"Ann Smith\",ann@example.org,3/2/2026\r\n"
}
# The head of a hostile message (its subject does not pass the orders filter).
hostile_head() {
    separator 59
    printf 'From: Mallory <mallory@example.net>\r\nTo: Shop <shop@example.com>\r\n'
    printf 'Subject: Hostile %s\r\nDate: Mon, 02 Mar 2026 10:00:00 +0100\r\n' "$1"
}
# `count` bytes of `char`.
repeat() { head -c "$2" /dev/zero | tr '\0' "$1"; }

{
    order
    # A header of 4 MB: 80,000 lines of 50 bytes.
    hostile_head huge-header
    junk=$(repeat j 40)
    for _ in $(seq 80000); do printf 'X-Junk: %s\r\n' "$junk"; done
    printf '\r\nCode: BAD-1\r\n\r\n'
    order
    # No blank line between header and body.
    hostile_head no-blank-line
    printf 'Code: BAD-2\r\n\r\n'
    order
    # A boundary that is never closed, with an attachment in the open part.
    hostile_head unterminated
    printf 'MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary="open"\r\n\r\n'
    printf -- '--open\r\nContent-Type: text/plain\r\n\r\nCode: BAD-3\r\n'
    printf -- '--open\r\nContent-Type: application/octet-stream; name="a.bin"\r\n'
    printf 'Content-Disposition: attachment; filename="a.bin"\r\nContent-Transfer-Encoding: base64\r\n\r\nQ29kZTogQkFELTM=\r\n\r\n'
    order
    # 10,000 multipart parts nested one in the other, never closed.
    hostile_head nested
    printf 'MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary="n0"\r\n\r\n'
    for i in $(seq 0 9999); do
        printf -- '--n%d\r\nContent-Type: multipart/mixed; boundary="n%d"; filename="n%d.txt"\r\n\r\n' "$i" $((i + 1)) "$i"
    done
    printf -- '--n10000\r\nContent-Type: text/plain\r\n\r\nCode: BAD-4\r\n\r\n'
    order
    # 5,000 attachments of the same name in one message.
    hostile_head many-parts
    printf 'MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary="m"\r\n\r\n'
    for _ in $(seq 5000); do
        printf -- '--m\r\nContent-Type: text/plain; name="same.txt"\r\nContent-Disposition: attachment; filename="same.txt"\r\n'
        printf 'Content-Transfer-Encoding: base64\r\n\r\nQ29kZTogQkFELTU=\r\n'
    done
    printf -- '--m--\r\n\r\n'
    order
    # A 1 MB line in the body and a header line of 512 KB (a longer one would pass the
    # header limit first).
    hostile_head "long-line-$(repeat L 524288)"
    printf '\r\nCode: %s\r\n\r\n' "$(repeat B 1048576)"
    order
    # Attachment names that point out of the scratch directory, in both slash forms, and
    # names of 1,000 bytes.
    hostile_head traversal
    printf 'MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary="t"\r\n\r\n'
    for name in '../../../../escaped-1.txt' '..\\..\\..\\escaped-2.txt' "$work/escaped-3.txt" '..' '.' \
        "../$(repeat x 1000).txt"; do
        printf -- '--t\r\nContent-Type: application/octet-stream; name="%s"\r\n' "$name"
        printf 'Content-Disposition: attachment; filename="%s"\r\nContent-Transfer-Encoding: base64\r\n\r\n' "$name"
        printf 'Q29kZTogQkFELTc=\r\n'
    done
    printf -- '--t--\r\n\r\n'
    order
    # An attachment that is itself a multipart entity of 4,100 parts: past the MIME
    # component's limit on parts.
    hostile_head mime-parts
    printf 'MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary="outer"\r\n\r\n'
    printf -- '--outer\r\nContent-Type: multipart/mixed; boundary="inner"; name="inner.bin"\r\n'
    printf 'Content-Disposition: attachment; filename="inner.bin"\r\n\r\n'
    for _ in $(seq 4100); do printf -- '--inner\r\nContent-Transfer-Encoding: 7bit\r\n\r\nx\r\n'; done
    printf -- '--inner--\r\n--outer--\r\n\r\n'
    order
    # NUL bytes in the header and the body.
    hostile_head 'nul\0bytes'
    printf 'X-Nul: \0\0\0\r\n\r\nCode: BAD\0-8\r\n\0\r\n\r\n'
    order
} >"$mbox"

dir="$work/run"
mkdir -p "$dir/home/templates" "$dir/config/Vantroy Technologies" "$dir/out" "$dir/tmp"
cp "$data/Orders.txf" "$data/Attachments.txf" "$dir/home/templates/"
printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=NETSCAPE\r\nLocalFileName=%s\r\nDeleteFlag=0\r\n' \
    "$dir/home/templates" "$mbox" >"$dir/config/Vantroy Technologies/Tallix.ini"
start=$(date +%s)
(cd "$dir/out" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TMPDIR="$dir/tmp" \
    TALLIX_HOME="$dir/home" XDG_CONFIG_HOME="$dir/config" timeout 600 "$TALLIX_BIN/txengine" /sx \
    </dev/null >"$work/stdout" 2>"$work/stderr")
status=$?
echo "hostile mailbox: $(( $(date +%s) - start )) s, exit status $status"
[ "$status" = 0 ] || fail "exit status $status: $(head -c 2000 "$work/stderr")"

want=$(printf "$expected" | od -c)
[ "$(od -c <"$dir/out/orders.csv" 2>/dev/null)" = "$want" ] ||
    fail "orders.csv differs: $(head -c 3000 "$dir/out/orders.csv" | cat -A)"
grep -q "Parsed:.* with 2 of 2" "$dir/home/txSystem.Log" || fail "summary line missing"

# Nothing was written outside the output, program, settings and scratch directories; the
# scratch directory is gone.
stray=$(find "$work" -type f ! -path "$dir/out/*" ! -path "$dir/home/*" ! -path "$dir/config/*" \
    ! -path "$mbox" ! -path "$work/stdout" ! -path "$work/stderr")
[ -z "$stray" ] || fail "files written outside their directories: $stray"
[ -z "$(ls -A "$dir/tmp")" ] || fail "scratch directory left behind: $(ls -A "$dir/tmp")"
[ -z "$(find "$dir/out" -type f ! -name orders.csv ! -name attachments.csv)" ] ||
    fail "unexpected output files: $(ls "$dir/out")"

# Every limit that was reached is in the error log, and the message without a blank line.
for text in 'Message header longer than the limit' 'Header field value longer than the limit' \
    'More message parts than the limit' 'Attachment name longer than the limit' 'clsNetscape - GetHeader' \
    'more than 4096 parts'; do
    grep -q -- "$text" "$dir/home/txError.Log" || fail "not reported: $text"
done
echo "hostile mailbox e2e: ok"
