#!/usr/bin/env bash
# The same 60 messages of mail as it is written today (encoded words, folded fields,
# quoted-printable and base64, Latin-1, Windows-1252, UTF-8, Shift_JIS, RFC 2231 names, HTML
# only, alternatives alone and inside mixed, an attached message, malformed encodings;
# tests/engine/encoded_mail.py writes them) delivered as a Netscape file, a Eudora file, a
# standard mbox, a Maildir, a POP3 and an IMAP mailbox (dovecot; IMAP where dovecot's IMAP
# server is installed) give the same output lines for one template that takes every text
# field, and those lines hold the decoded text the messages say. A second template's filter finds "JÜRGEN MÜLLER" in
# "Jürgen Müller". Dates and the reply-to pair are not compared: each kind of source reads
# them by its own rules. A further source is one more row of `sources` below.
set -u
. "$(dirname "$0")/../support/e2e_lib.sh"
. "$TALLIX_SOURCE/tests/support/dovecot_fixture.sh"
work=$(mktemp -d)
chmod 755 "$work"
trap 'dovecot_stop; [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"' EXIT
export TZ=UTC

msg="$work/messages"
python3 "$TALLIX_SOURCE/tests/engine/encoded_mail.py" "$msg" || fail "messages not written"

# --- the mailboxes ---------------------------------------------------------------------------
for f in "$msg"/*.eml; do
    printf 'From - Mon Mar  2 09:00:00 2026\r\n' >>"$work/netscape.mbox"
    cat "$f" >>"$work/netscape.mbox"
    printf '\r\n' >>"$work/netscape.mbox"
    printf 'From ???@??? Mon Mar  2 09:00:00 2026\r\n' >>"$work/eudora.mbx"
    cat "$f" >>"$work/eudora.mbx"
    printf 'From sender@example.org Mon Mar  2 09:00:00 2026\n' >>"$work/standard.mbox"
    tr -d '\r' <"$f" >>"$work/standard.mbox"
    printf '\n' >>"$work/standard.mbox"
done
mkdir -p "$work/Maildir/new" "$work/Maildir/cur" "$work/Maildir/tmp"
n=0
for f in "$msg"/*.eml; do
    n=$((n + 1))
    cp "$f" "$work/Maildir/new/$((1772000000 + n)).M${n}P1.test"
done

dovecot_start_or_skip "$work/server"
dovecot_add_user mail secret
for f in "$msg"/*.eml; do dovecot_deliver mail "$f"; done

# --- the templates ---------------------------------------------------------------------------
write_templates() {  # write_templates DIR
    local vars=(
        'Code;MSG_TEXT;Code:;{End of Line};0;0;1;0;0'
        'Subject;MSG_SUBJECT;{Beginning of Field};{End of Field};1;0;1;0;0'
        'SenderName;SENDER_NAME;{Beginning of Field};{End of Field};1;0;1;0;0'
        'SenderAddress;SENDER_ADDRESS;{Beginning of Field};{End of Field};1;0;1;0;0'
        'RecipientName;RECIPIENT_NAME;{Beginning of Field};{End of Field};1;0;1;0;0'
        'RecipientAddress;RECIPIENT_ADDRESS;{Beginning of Field};{End of Field};1;0;1;0;0'
        'Body;MSG_TEXT;{Beginning of Field};{End of Field};1;1;1;0;0'
        'Attachment;ATTACHMENT;ATT:;{End of Line};1;0;1;0;0'
    )
    {
        printf '[General]\r\nActive=True\r\nNum_Variables=%d\r\nLast_Ran=Never\r\n' ${#vars[@]}
        printf '[Filter]\r\nCommand=<NONE>\r\nFind_String=\r\n[Variables]\r\n'
        local i=0
        for v in "${vars[@]}"; do
            i=$((i + 1))
            printf 'Var%d=%s\r\n' $i "$v"
        done
        printf '[Output]\r\nAllowDuplicate=True\r\nFile=all.csv\r\nDelimiter=TAB\r\nOutput_Count=1\r\n'
        printf 'Output1=Code,Subject,SenderName,SenderAddress,RecipientName,RecipientAddress,Body,Attachment\r\n'
        printf '[Scripts]\r\nrun=\r\n'
    } >"$1/All.txf"
    # Upper-case letters beyond ASCII in the filter find the mixed-case name.
    printf '[General]\r\nActive=True\r\nNum_Variables=1\r\nLast_Ran=Never\r\n[Filter]\r\nCommand=SENDER_NAME\r\nFind_String=J\xc3\x9cRGEN M\xc3\x9cLLER\r\n[Variables]\r\nVar1=Code;MSG_TEXT;code:;{End of Line};0;0;0;0;0\r\n[Output]\r\nAllowDuplicate=True\r\nFile=folded.csv\r\nDelimiter=COMMA\r\nOutput_Count=1\r\nOutput1=Code\r\n[Scripts]\r\nrun=\r\n' >"$1/Folded.txf"
}

# run_source NAME SETTINGS-LINES: a fresh program and settings directory for one source.
run_source() {
    local name=$1 settings=$2
    local dir="$work/$name"
    mkdir -p "$dir/home/templates" "$dir/config/Vantroy Technologies" "$dir/out" "$dir/tmp"
    write_templates "$dir/home/templates"
    printf "[Settings]\r\nTemplateDir=%s\r\nDeleteFlag=0\r\n$settings" "$dir/home/templates" \
        >"$dir/config/Vantroy Technologies/Tallix.ini"
    printf '[GENERAL]\r\nCount=1\r\n[NAMES]\r\nConfig1=Mail\r\n[Mail]\r\nHostName=127.0.0.1\r\nPort=%s\r\nLoginName=mail\r\nPassword=secret\r\n' \
        "$DOVECOT_PORT" >"$dir/home/POP3.CFG"
    printf '[GENERAL]\r\nCount=1\r\n[NAMES]\r\nConfig1=Mail\r\n[Mail]\r\nHostName=127.0.0.1\r\nPort=%s\r\nLoginName=mail\r\nPassword=secret\r\n' \
        "${DOVECOT_IMAP_PORT:-}" >"$dir/home/IMAP.CFG"
    run_engine "$dir" TMPDIR="$dir/tmp" TALLIX_CA_FILE="$DOVECOT_CA" TALLIX_POP3S_PORT="$DOVECOT_TLS_PORT"
    expect_status "$name" 0
    [ -s "$dir/out/all.csv" ] || fail "$name: no output: $(cat "$dir/stderr" "$dir/home/txError.Log" 2>/dev/null)"
}

sources=(
    "netscape|UseSource=NETSCAPE\r\nLocalFileName=$work/netscape.mbox\r\n"
    "eudora|UseSource=EUDORA\r\nLocalFileName=$work/eudora.mbx\r\n"
    "mbox|UseSource=FILE_OTHER\r\nLocalFileName=$work/standard.mbox\r\n"
    "maildir|UseSource=EXTENDED MAPI\r\nProfile=$work/Maildir\r\n"
    "pop3|UseSource=POP3\r\n"
)
# IMAP where dovecot's IMAP server is installed (the same mailbox, read with BODY.PEEK).
[ -x "$DOVECOT_IMAPD" ] && sources+=("imap|UseSource=IMAP\r\n")
for row in "${sources[@]}"; do
    run_source "${row%%|*}" "${row#*|}"
done

# --- the lines -------------------------------------------------------------------------------
python3 - "$work" "$msg/expected.txt" "${sources[@]%%|*}" <<'EOF' || fail "the sources disagree"
import sys, re
work, expected_file, names = sys.argv[1], sys.argv[2], sys.argv[3:]

def lines(name):
    rows = {}
    with open("%s/%s/out/all.csv" % (work, name), "rb") as f:
        for raw in f.read().split(b"\r\n"):
            if raw:
                text = raw.decode("utf-8")  # the output is UTF-8, or this fails
                rows[text.split("\t")[0].strip()] = text
    return rows

def norm(s):
    return re.sub(r"\s+", " ", s.strip().strip('"')).strip()

runs = {name: lines(name) for name in names}
ok = True
first = names[0]
for name in names[1:]:
    for code in sorted(set(runs[first]) | set(runs[name])):
        a, b = runs[first].get(code), runs[name].get(code)
        if a != b:
            ok = False
            print("%s and %s differ for %s:\n  %r\n  %r" % (first, name, code, a, b))
if len(runs[first]) != 60:
    ok = False
    print("%s: %d lines, want 60" % (first, len(runs[first])))
for line in open(expected_file, encoding="utf-8"):
    code, subject, sname, saddr, rname, raddr, body = line.rstrip("\n").split("\t")
    got = runs[first].get(code)
    if got is None:
        ok = False
        print("no line for", code)
        continue
    fields = [norm(v) for v in got.split("\t")]
    want = [code, subject, sname, saddr, rname, raddr, norm(body)]
    for i, (g, w) in enumerate(zip(fields, want)):
        if i > 0 and g != norm(w):
            ok = False
            print("%s field %d: %r, want %r" % (code, i, g, w))
sys.exit(0 if ok else 1)
EOF
echo "60 messages, ${#sources[@]} sources: the same decoded lines"

# The folded filter: the twelve messages from Jürgen Müller, in every source.
for row in "${sources[@]}"; do
    name=${row%%|*}
    [ "$(wc -l <"$work/$name/out/folded.csv")" = 12 ] ||
        fail "$name: the case-folded filter found $(wc -l <"$work/$name/out/folded.csv") messages, want 12"
done
echo "filter without regard to case beyond ASCII: ok"
