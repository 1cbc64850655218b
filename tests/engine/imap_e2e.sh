#!/usr/bin/env bash
# The real txengine with UseSource "IMAP" against a private dovecot on 127.0.0.1: accounts in
# file order, STARTTLS and TLS from the start with the test CA, a folder with a non-ASCII
# name, \Seen left alone, deletion of exactly the parsed messages (another client's \Deleted
# message stays), MoveTo, a refused login, an untrusted certificate, a server without
# STARTTLS (the password never sent), password commands that work, fail and hang, an encoded
# subject, a 5 MB message with an attachment and an empty folder.
# Exits 77 (skipped) only when dovecot's IMAP server is not installed.
set -u
data="$TALLIX_TEST_DATA/e2e"
. "$(dirname "$0")/../support/e2e_lib.sh"
. "$TALLIX_SOURCE/tests/support/dovecot_fixture.sh"
[ -x "$DOVECOT_IMAPD" ] || {
    echo "dovecot-imapd is not installed; skipped"
    exit 77
}
work=$(mktemp -d)
chmod 755 "$work"  # the server's unprivileged processes read below it
trap 'dovecot_stop; [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"' EXIT

dovecot_start_or_skip "$work/server"

# --- messages --------------------------------------------------------------------------------
msg="$work/messages"
mkdir -p "$msg"
order() {  # order FILE CODE [SENDER]: a plain order message
    printf 'From: %s\r\nTo: shop@example.com\r\nSubject: order %s\r\nDate: Fri, 08 Jan 2021 12:34:56 +0000\r\n\r\nCode: %s\r\n' \
        "${3:-Ann <ann@example.org>}" "$2" "$2" >"$1"
}
order "$msg/a1" A-1
order "$msg/a2" A-2
order "$msg/b1" B-1 "Bob <bob@example.net>"
order "$msg/f1" F-1 "Fay <fay@example.org>"
printf 'From: News <news@example.com>\r\nSubject: newsletter\r\nDate: Wed, 13 Jan 2021 12:00:00 +0000\r\n\r\nNothing to see\r\n' >"$msg/news"
printf 'From: Old <old@example.com>\r\nSubject: deleted elsewhere\r\nDate: Wed, 13 Jan 2021 12:00:00 +0000\r\n\r\nGone soon\r\n' >"$msg/other"
# "Grüße, order E-1" only as an encoded word: the filter finds "order" once it is decoded.
printf 'From: Bob <bob@example.net>\r\nSubject: =?UTF-8?B?%s?=\r\nDate: Mon, 11 Jan 2021 10:00:00 +0000\r\n\r\nCode: E-1\r\n' \
    "$(printf 'Gr\xc3\xbc\xc3\x9fe, order E-1' | base64 -w0)" >"$msg/encoded"
# 5 MB: a text part and a base64 attachment whose text the attachment template reads.
{
    printf 'From: Ann <ann@example.org>\r\nSubject: order big\r\nDate: Sun, 10 Jan 2021 09:00:00 +0000\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary="b1"\r\n\r\n--b1\r\nContent-Type: text/plain\r\n\r\nCode: G-1\r\n--b1\r\nContent-Type: text/plain; name="report.txt"\r\nContent-Disposition: attachment; filename="report.txt"\r\nContent-Transfer-Encoding: base64\r\n\r\n'
    { printf 'Code: R-7 end\r\n'; yes 'filler line of a large attachment, seventy characters long.........' | head -c 3900000; } |
        base64 -w76 | sed 's/$/\r/'
    printf '\r\n--b1--\r\n'
} >"$msg/big"

dovecot_add_user ann secret   # INBOX: two orders, read without deleting
dovecot_add_user bob hunter2  # INBOX: the encoded subject and the 5 MB message
dovecot_add_user carol empty  # INBOX empty
dovecot_add_user dave keep    # INBOX: orders, a newsletter, another client's \Deleted message
dovecot_add_user eve move     # INBOX: orders and a newsletter; the parsed ones go to "Done"
dovecot_add_user fay folder   # the folder "Aufträge" (stored in modified UTF-7)
dovecot_deliver ann "$msg/a1"
dovecot_deliver ann "$msg/a2"
dovecot_deliver bob "$msg/encoded"
dovecot_deliver bob "$msg/big"
dovecot_deliver dave "$msg/a1"
dovecot_deliver dave "$msg/other" "" T
dovecot_deliver dave "$msg/news"
dovecot_deliver dave "$msg/a2"
dovecot_deliver eve "$msg/a1"
dovecot_deliver eve "$msg/news"
dovecot_folder eve .Done
dovecot_folder fay '.Auftr&AOQ-ge'
dovecot_deliver fay "$msg/f1" '.Auftr&AOQ-ge'
dovecot_deliver fay "$msg/news"

# --- running the engine -----------------------------------------------------------------------
write_accounts() {  # write_accounts DIR NAME|PORT|LOGIN|PASSWORD[|KEY=VALUE...]...
    local dir=$1
    shift
    local n=0 names="" sections=""
    for a in "$@"; do
        n=$((n + 1))
        IFS='|' read -r -a f <<<"$a"
        names+="Config$n=${f[0]}\r\n"
        sections+="[${f[0]}]\r\nHostName=127.0.0.1\r\nPort=${f[1]}\r\nLoginName=${f[2]}\r\nPassword=${f[3]}\r\n"
        local k
        for k in "${f[@]:4}"; do sections+="$k\r\n"; done
    done
    printf "[GENERAL]\r\nCount=$n\r\n[NAMES]\r\n$names$sections" >"$dir/home/IMAP.CFG"
}
# run_case NAME DELETEFLAG CAFILE ACCOUNT...: a fresh program and settings directory.
run_case() {
    local name=$1 deleteFlag=$2 ca=$3
    shift 3
    local dir="$work/$name"
    mkdir -p "$dir/home/templates" "$dir/config/Vantroy Technologies" "$dir/out"
    cp "$data/Orders.txf" "$data/Attachments.txf" ${extra_template:+"$extra_template"} "$dir/home/templates/"
    printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=IMAP\r\nDeleteFlag=%s\r\nDeleteUnused=False\r\n%b' \
        "$dir/home/templates" "$deleteFlag" "${extra_settings:-}" >"$dir/config/Vantroy Technologies/Tallix.ini"
    write_accounts "$dir" "$@"
    run_engine "$dir" TALLIX_CA_FILE="$ca"
}
log_of() { cat "$work/$1/home/$2" 2>/dev/null; }
seen_count() { find "$DOVECOT_DIR/mail/$1/" -path '*/cur/*' -name '*:2,*S*' | wc -l; }
I=$DOVECOT_IMAP_PORT
IS=$DOVECOT_IMAPS_PORT

# Two accounts (STARTTLS on the plain port, TLS from the start on the other), read in file
# order with DeleteFlag 0: lines in account order, the encoded subject and the 5 MB message's
# attachment read, nothing deleted, no message marked \Seen.
run_case two 0 "$DOVECOT_CA" "Home|$I|ann|secret" "Work|$IS|bob|hunter2|Security=TLS"
expect_status two 0
expect_file "$work/two/out/orders.csv" \
    'A-1,"Ann",ann@example.org,\r\nA-2,"Ann",ann@example.org,\r\nE-1,"Bob",bob@example.net,\r\nG-1,"Ann",ann@example.org,\r\n'
expect_file "$work/two/out/attachments.csv" 'R-7\r\n'
log_of two txSystem.Log | grep -q 'Parsed:2 of 2 with 2 of 2' || fail "two: Home summary: $(log_of two txSystem.Log; log_of two txError.Log)"
home_line=$(log_of two txSystem.Log | grep -n 'Connected to: Home' | cut -d: -f1)
work_line=$(log_of two txSystem.Log | grep -n 'Connected to: Work' | cut -d: -f1)
[ -n "$home_line" ] && [ -n "$work_line" ] && [ "$home_line" -lt "$work_line" ] || fail "two: accounts not read in file order"
grep -q 'imap-login: .*user=<ann>.*TLS' "$DOVECOT_LOG" || fail "two: the session did not use STARTTLS: $(cat "$DOVECOT_LOG")"
[ "$(dovecot_count ann)" = 2 ] && [ "$(dovecot_count bob)" = 2 ] || fail "two: messages deleted with DeleteFlag 0"
[ "$(seen_count ann)" = 0 ] && [ "$(seen_count bob)" = 0 ] || fail "two: messages marked \\Seen"
! log_of two txError.Log | grep -q . || fail "two: unexpected errors: $(log_of two txError.Log)"
echo "two accounts, \\Seen unchanged: ok"

# Each attachment's MIME type, as the POP3 source gives it.
printf '[General]\r\nActive=True\r\nNum_Variables=2\r\nLast_Ran=Never\r\n[Filter]\r\nCommand=<NONE>\r\nFind_String=\r\n[Variables]\r\nVar1=Name;ATTACHMENT_NAME;{Beginning of Field};{End of Field};0;0;0;0;0\r\nVar2=Type;ATTACHMENT_TYPE;{Beginning of Field};{End of Field};0;0;0;0;0\r\n[Output]\r\nAllowDuplicate=True\r\nFile=types.csv\r\nDelimiter=COMMA\r\nPerAttachment=True\r\nOutput_Count=1\r\nOutput1=Name,Type\r\n[Scripts]\r\nrun=\r\n' >"$work/Types.txf"
extra_template="$work/Types.txf" run_case types 0 "$DOVECOT_CA" "Home|$I|ann|secret" "Work|$IS|bob|hunter2|Security=TLS"
expect_status types 0
expect_file "$work/types/out/types.csv" 'report.txt,text/plain\r\n'
echo "attachment types: ok"

# A folder other than INBOX, with a non-ASCII name; the empty INBOX of another account.
run_case folder 0 "$DOVECOT_CA" "Orders|$I|fay|folder|Folder=Aufträge" "Empty|$I|carol|empty"
expect_status folder 0
expect_file "$work/folder/out/orders.csv" 'F-1,"Fay",fay@example.org,\r\n'
log_of folder txSystem.Log | grep -q 'Connected to: Empty' || fail "folder: the empty account did not connect"
log_of folder txSystem.Log | grep -q 'No messsages found.' || fail "folder: no 'No messsages found.'"
# "Test connection" (the imap_check tool): logs in, lists the folders, counts the messages of
# the account's folder, reads nothing; a wrong password is said with the server's refusal.
check() { TALLIX_HOME="$work/folder/home" TALLIX_CA_FILE="$DOVECOT_CA" "$TALLIX_BIN/imap_check" "$@"; }
answer=$(check Orders) || fail "check: $answer"
case "$answer" in "Logged in. 2 folders: "*"Aufträge"*". Aufträge holds 1 messages.") ;; *) fail "check: $answer" ;; esac
answer=$(check Empty) || fail "check: $answer"
case "$answer" in *". INBOX holds 0 messages.") ;; *) fail "check: $answer" ;; esac
write_accounts "$work/folder" "Orders|$I|fay|wrong"
answer=$(check Orders) && fail "check: a wrong password passed"
case "$answer" in *"refused the login of user fay"*) ;; *) fail "check: $answer" ;; esac
[ "$(seen_count fay)" = 0 ] || fail "check: a message was marked \\Seen"
echo "non-ASCII folder, empty folder, connection check: ok"

# DeleteFlag 2: exactly the parsed messages go; the newsletter no template parsed and the
# message another client flagged \Deleted stay.
run_case delete 2 "$DOVECOT_CA" "Shop|$I|dave|keep"
expect_status delete 0
expect_file "$work/delete/out/orders.csv" 'A-1,"Ann",ann@example.org,\r\nA-2,"Ann",ann@example.org,\r\n'
[ "$(dovecot_count dave)" = 2 ] || fail "delete: $(dovecot_count dave) messages left, want 2"
grep -rq 'Subject: newsletter' "$DOVECOT_DIR/mail/dave/" || fail "delete: the unparsed newsletter was deleted"
grep -rq 'Subject: deleted elsewhere' "$DOVECOT_DIR/mail/dave/" || fail "delete: another client's \\Deleted message was expunged"
[ "$(log_of delete txSystem.Log | grep -c 'IMAP delete called')" = 2 ] || fail "delete: delete log lines"
echo "delete parsed only: ok"

# MoveTo: the parsed message is moved to "Done", the newsletter stays in the inbox.
run_case move 2 "$DOVECOT_CA" "Shop|$I|eve|move|MoveTo=Done"
expect_status move 0
[ "$(dovecot_count eve)" = 1 ] && [ "$(dovecot_count eve .Done)" = 1 ] ||
    fail "move: inbox $(dovecot_count eve), Done $(dovecot_count eve .Done): $(log_of move txError.Log)"
grep -rq 'Code: A-1' "$DOVECOT_DIR/mail/eve/.Done/" || fail "move: the order is not in Done"
echo "MoveTo: ok"

# A wrong password, an untrusted certificate and a missing folder are failed connects of
# their accounts, each with one line naming the account; the next account is still read.
run_case failures 2 "$DOVECOT_OTHER_CA" "Wrong|$I|ann|not-the-password" "Untrusted|$IS|ann|secret|Security=TLS"
expect_status failures 0
log_of failures txError.Log | grep -q 'IMAP account Wrong .*: the secure connection failed' ||
    fail "failures: $(log_of failures txError.Log)"
run_case badlogin 2 "$DOVECOT_CA" "Wrong|$I|ann|not-the-password" "Nofolder|$I|ann|secret|Folder=Missing" "Work|$I|fay|folder|Folder=Aufträge"
expect_status badlogin 0
log_of badlogin txError.Log | grep -q 'IMAP account Wrong .*refused the login of user ann' ||
    fail "badlogin: no refusal line: $(log_of badlogin txError.Log)"
log_of badlogin txError.Log | grep -q 'IMAP account Nofolder .*the folder Missing could not be opened' ||
    fail "badlogin: no missing-folder line: $(log_of badlogin txError.Log)"
! log_of badlogin txError.Log | grep -q 'not-the-password' || fail "badlogin: the password was logged"
[ "$(grep -c 'Unable to establish a valid socket.' "$work/badlogin/stderr")" = 2 ] || fail "badlogin: boxes"
log_of badlogin txSystem.Log | grep -q 'Parsed:1 of 1 with 2 of 2' || fail "badlogin: the next account was not read"
[ "$(dovecot_count ann)" = 2 ] || fail "badlogin: a message of a failed account is gone"
echo "wrong password, untrusted certificate, missing folder: ok"

# Password commands: one that works, one that fails and one that hangs (stopped after 10 s);
# the two that do not work are failed connects whose lines never hold the output.
run_case commands 0 "$DOVECOT_CA" "Good|$I|ann||PasswordCommand=printf 'secret\\\\nother\\\\n'" \
    "Fails|$I|ann||PasswordCommand=sh -c 'echo printed-output; exit 4'" \
    "Hangs|$I|ann||PasswordCommand=sleep 60"
expect_status commands 0
log_of commands txSystem.Log | grep -q 'Connected to: Good' || fail "commands: $(log_of commands txError.Log)"
log_of commands txError.Log | grep -q 'IMAP account Fails .*the password command failed: the command ended with status 4' ||
    fail "commands: $(log_of commands txError.Log)"
log_of commands txError.Log | grep -q 'IMAP account Hangs .*did not end within 10 seconds' ||
    fail "commands: $(log_of commands txError.Log)"
! log_of commands txError.Log | grep -q 'printed-output' || fail "commands: the output was logged"
echo "password commands: ok"

# ProcessOnce: a second run fetches only the first message (the run learns from it what the
# templates take) and none of the messages every template has had; it writes no line. The
# server counts the message bodies it sent in its logout line.
dovecot_add_user hana again
for m in a1 a2 b1; do dovecot_deliver hana "$msg/$m"; done
for round in 1 2; do
    extra_settings='ProcessOnce=True\r\n' run_case once 0 "$DOVECOT_CA" "Once|$I|hana|again"
    expect_status once 0
    expect_file "$work/once/out/orders.csv" \
        'A-1,"Ann",ann@example.org,\r\nA-2,"Ann",ann@example.org,\r\nB-1,"Bob",bob@example.net,\r\n'
done
! log_of once txError.Log | grep -q . || fail "once: unexpected errors: $(log_of once txError.Log)"
bodies=$(grep 'imap(hana)' "$DOVECOT_LOG" | grep -o 'body_count=[0-9]*' | tr '\n' ' ')
[ "$bodies" = "body_count=3 body_count=1 " ] || fail "once: bodies fetched per run: $bodies"
echo "each message once, not fetched again: ok"

# A server without STARTTLS: the account is refused before its login; the server's log shows
# no login attempt.
DOVECOT_SSL=no dovecot_start "$work/plainserver" || fail "the server without TLS did not start"
dovecot_add_user gus plain
dovecot_deliver gus "$msg/a1"
run_case nostarttls 2 "$DOVECOT_CA" "Bare|$DOVECOT_IMAP_PORT|gus|plain"
expect_status nostarttls 0
log_of nostarttls txError.Log | grep -q 'IMAP account Bare .*the secure connection failed: The server does not offer STARTTLS' ||
    fail "nostarttls: $(log_of nostarttls txError.Log)"
! grep -q 'user=<gus>' "$DOVECOT_LOG" || fail "nostarttls: the login reached the server: $(cat "$DOVECOT_LOG")"
[ "$(dovecot_count gus)" = 1 ] || fail "nostarttls: the message is gone"
echo "no STARTTLS refused: ok"

# A scripted server for what dovecot will not do: a lying EXISTS, a literal that never ends, a
# connection closed mid-fetch, a 100 MB line. Each ends its account with an error line, in
# bounded time and memory, and nothing is deleted; a good account after them is still read,
# and one on a server without UIDPLUS keeps its flagged message (one line says so).
python3 "$TALLIX_SOURCE/tests/support/imap_scripted_server.py" "$work/scripted.port" "$work/scripted.log" &
scripted_pid=$!
trap 'kill "$scripted_pid" 2>/dev/null; dovecot_stop; [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"' EXIT
for _ in $(seq 1 50); do [ -s "$work/scripted.port" ] && break; sleep 0.1; done
SP=$(cat "$work/scripted.port") || fail "the scripted server did not start"
hostile() { echo "$1|$SP|$1|pw|Security=None"; }
start=$(date +%s)
run_case hostile 2 "$DOVECOT_CA" "$(hostile lying)" "$(hostile endless)" "$(hostile closing)" \
    "$(hostile huge)" "$(hostile nouidplus)" "good|$SP|good|pässwörd|Security=None" \
    "Token|$SP|good||Security=None|Auth=XOAUTH2|PasswordCommand=echo token-123"
took=$(($(date +%s) - start))
expect_status hostile 0
[ "$took" -lt 90 ] || fail "hostile: the run took $took s"
errors=$(log_of hostile txError.Log)
echo "$errors" | grep -q 'IMAP account lying .*said the folder holds 5 messages but listed 1' || fail "hostile: lying: $errors"
echo "$errors" | grep -q 'IMAP account endless .*could not be fetched.*sent nothing for 30 seconds' || fail "hostile: endless: $errors"
echo "$errors" | grep -q 'IMAP account closing .*could not be fetched.*closed the connection' || fail "hostile: closing: $errors"
echo "$errors" | grep -q 'IMAP account huge .*could not be fetched.*line longer than 1048576 bytes' || fail "hostile: huge: $errors"
echo "$errors" | grep -q 'IMAP account nouidplus .*does not offer UIDPLUS, so nothing is expunged: 1 messages stay flagged' ||
    fail "hostile: nouidplus: $errors"
expect_file "$work/hostile/out/orders.csv" 'H-1,"Ann",ann@example.org,\r\nH-1,"Ann",ann@example.org,\r\nH-1,"Ann",ann@example.org,\r\n'
# The access token the password command printed went as XOAUTH2, ended as the mechanism wants.
# A password in UTF-8 goes to LOGIN as a literal, its bytes unchanged.
grep -q '^?: T[0-9]* LOGIN "good" "pässwörd"$' "$work/scripted.log" ||
    fail "hostile: no LOGIN with the UTF-8 password: $(grep LOGIN "$work/scripted.log")"
grep -q "^good: XOAUTH2 user=good token=token-123 ends=\['', ''\]$" "$work/scripted.log" ||
    fail "hostile: no XOAUTH2 login: $(grep XOAUTH2 "$work/scripted.log")"
! grep -Eq '^(lying|endless|closing|huge): .*(STORE|EXPUNGE|MOVE|COPY)' "$work/scripted.log" ||
    fail "hostile: a hostile server was asked to delete: $(cat "$work/scripted.log")"
! grep -q '^nouidplus: .*EXPUNGE' "$work/scripted.log" || fail "hostile: EXPUNGE without UIDPLUS"
grep -q '^good: .*UID EXPUNGE 7$' "$work/scripted.log" || fail "hostile: the good account's message was not expunged by UID"
if [ -x /usr/bin/time ]; then
    # Memory stays bounded with a 100 MB line on offer.
    write_accounts "$work/hostile" "$(hostile huge)"
    (cd "$work/hostile/out" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TALLIX_HOME="$work/hostile/home" \
        XDG_CONFIG_HOME="$work/hostile/config" /usr/bin/time -f '%M' -o "$work/hostile.rss" \
        timeout 120 "$TALLIX_BIN/txengine" /sx </dev/null >/dev/null 2>&1)
    [ "$(tail -1 "$work/hostile.rss")" -lt 150000 ] || fail "hostile: $(tail -1 "$work/hostile.rss") KB for a 100 MB line"
fi
echo "hostile servers: ok"
