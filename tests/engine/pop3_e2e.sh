#!/usr/bin/env bash
# The real txengine with UseSource "POP3" against a private dovecot on 127.0.0.1: accounts in
# file order, plain, multipart and HTML-alternative messages, a 5 MB message, an encoded
# subject, deletion of parsed messages, a refused login, a refused port, an empty mailbox,
# TLS from the start and STARTTLS with the test CA, a certificate the CA did not sign, and a
# server that offers no STARTTLS (refused before the login unless Security is None).
# Exits 77 (skipped) only when dovecot is not installed.
set -u
data="$TALLIX_TEST_DATA/e2e"
. "$(dirname "$0")/../support/e2e_lib.sh"
. "$TALLIX_SOURCE/tests/support/dovecot_fixture.sh"
work=$(mktemp -d)
chmod 755 "$work"  # the server's unprivileged processes read below it
trap 'dovecot_stop; [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"' EXIT

dovecot_start_or_skip "$work/server"

# --- messages --------------------------------------------------------------------------------
msg="$work/messages"
mkdir -p "$msg"
printf 'From: Ann <ann@example.org>\r\nTo: shop@example.com\r\nSubject: order one\r\nDate: Fri, 08 Jan 2021 12:34:56 +0000\r\n\r\nCode: A-1\r\nThanks\r\n' >"$msg/plain"
printf 'From: Ann <ann@example.org>\r\nSubject: order with report\r\nDate: Sat, 09 Jan 2021 08:00:00 +0000\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary="b1"\r\n\r\nPreamble\r\n--b1\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nCode: A-2\r\n--b1\r\nContent-Type: text/plain; name="report.txt"\r\nContent-Disposition: attachment; filename="report.txt"\r\nContent-Transfer-Encoding: base64\r\n\r\n%s\r\n--b1--\r\n' \
    "$(printf 'Code: R-7 end\r\n' | base64 -w0)" >"$msg/multipart"
{
    printf 'From: Ann <ann@example.org>\r\nSubject: order big\r\nDate: Sun, 10 Jan 2021 09:00:00 +0000\r\n\r\nCode: A-3\r\n'
    yes 'filler line of a large message, seventy characters long...........' | head -c 5300000 | sed 's/$/\r/'
} >"$msg/big"
# "Grüße, order B-1" only as an encoded word: the filter finds "order" once it is decoded.
printf 'From: Bob <bob@example.net>\r\nSubject: =?UTF-8?B?%s?=\r\nDate: Mon, 11 Jan 2021 10:00:00 +0000\r\n\r\nCode: B-1\r\n' \
    "$(printf 'Gr\xc3\xbc\xc3\x9fe, order B-1' | base64 -w0)" >"$msg/encoded"
printf 'From: Bob <bob@example.net>\r\nSubject: order in two forms\r\nDate: Tue, 12 Jan 2021 11:00:00 +0000\r\nMIME-Version: 1.0\r\nContent-Type: multipart/alternative; boundary="alt"\r\n\r\n--alt\r\nContent-Type: text/plain\r\n\r\nCode: B-2\r\n--alt\r\nContent-Type: text/html\r\n\r\n<html><body><p>Code: H-9 end</p></body></html>\r\n--alt--\r\n' >"$msg/alternative"
printf 'From: News <news@example.com>\r\nSubject: newsletter\r\nDate: Wed, 13 Jan 2021 12:00:00 +0000\r\n\r\nNothing to see\r\n' >"$msg/newsletter"

dovecot_add_user ann secret
dovecot_add_user bob hunter2
dovecot_add_user carol empty
dovecot_add_user dave keep
dovecot_add_user erin nothing
dovecot_deliver ann "$msg/plain"
dovecot_deliver ann "$msg/multipart"
dovecot_deliver ann "$msg/big"
dovecot_deliver bob "$msg/encoded"
dovecot_deliver bob "$msg/alternative"
dovecot_deliver dave "$msg/plain"
dovecot_deliver dave "$msg/newsletter"
dovecot_deliver dave "$msg/multipart"

# --- running the engine -----------------------------------------------------------------------
# account NAME HOST PORT LOGIN PASSWORD: one account section line set for write_accounts.
write_accounts() {  # write_accounts DIR NAME:PORT:LOGIN:PASSWORD[:KEY=VALUE]...
    local dir=$1
    shift
    local n=0 names="" sections=""
    for a in "$@"; do
        n=$((n + 1))
        IFS=: read -r name port login password extra <<<"$a"
        names+="Config$n=$name\r\n"
        sections+="[$name]\r\nHostName=127.0.0.1\r\nPort=$port\r\nLoginName=$login\r\nPassword=$password\r\n"
        [ -z "$extra" ] || sections+="$extra\r\n"
    done
    printf "[GENERAL]\r\nCount=$n\r\n[NAMES]\r\n$names$sections" >"$dir/home/POP3.CFG"
}
# run_case NAME DELETEFLAG CAFILE ACCOUNT...: a fresh program and settings directory.
run_case() {
    local name=$1 deleteFlag=$2 ca=$3
    shift 3
    local dir="$work/$name"
    mkdir -p "$dir/home/templates" "$dir/config/Vantroy Technologies" "$dir/out"
    cp "$data/Orders.txf" "$data/Attachments.txf" ${extra_template:+"$extra_template"} "$dir/home/templates/"
    printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=POP3\r\nDeleteFlag=%s\r\nDeleteUnused=False\r\n%b' \
        "$dir/home/templates" "$deleteFlag" "${extra_settings:-}" >"$dir/config/Vantroy Technologies/Tallix.ini"
    write_accounts "$dir" "$@"
    run_engine "$dir" TALLIX_CA_FILE="$ca" TALLIX_POP3S_PORT="$DOVECOT_TLS_PORT"
}
log_of() { cat "$work/$1/home/$2" 2>/dev/null; }

# Two accounts, STARTTLS on the plain port with the test CA: lines in account order, the
# attachment and the HTML alternative read by the attachment template, the 5 MB message read.
run_case two 0 "$DOVECOT_CA" "Home:$DOVECOT_PORT:ann:secret" "Work:$DOVECOT_PORT:bob:hunter2"
expect_status two 0
expect_file "$work/two/out/orders.csv" \
    'A-1,"Ann",ann@example.org,\r\nA-2,"Ann",ann@example.org,\r\nA-3,"Ann",ann@example.org,\r\nB-1,"Bob",bob@example.net,\r\nB-2,"Bob",bob@example.net,\r\n'
expect_file "$work/two/out/attachments.csv" 'R-7\r\nH-9\r\n'
log_of two txSystem.Log | grep -q 'Connected to: Home' || fail "two: Home not connected"
log_of two txSystem.Log | grep -q 'Parsed:3 of 3 with 2 of 2' || fail "two: Home summary"
log_of two txSystem.Log | grep -q 'Parsed:2 of 2 with 2 of 2' || fail "two: Work summary"
home_line=$(log_of two txSystem.Log | grep -n 'Connected to: Home' | cut -d: -f1)
work_line=$(log_of two txSystem.Log | grep -n 'Connected to: Work' | cut -d: -f1)
[ "$home_line" -lt "$work_line" ] || fail "two: accounts not read in file order"
grep -q 'user=<ann>.*TLS' "$DOVECOT_LOG" || fail "two: the session did not use STARTTLS: $(cat "$DOVECOT_LOG")"
[ "$(dovecot_count ann)" = 3 ] && [ "$(dovecot_count bob)" = 2 ] || fail "two: messages deleted with DeleteFlag 0"
! log_of two txError.Log | grep -q . || fail "two: unexpected errors: $(log_of two txError.Log)"
echo "two accounts: ok"

# A header by name as the filter and a variable, and a line per attachment with its name,
# decoded size and MIME type; a message without attachments gives none.
extra_template="$data/Parts.txf" run_case parts 0 "$DOVECOT_CA" "Home:$DOVECOT_PORT:ann:secret"
expect_status parts 0
expect_file "$work/parts/out/parts.csv" 'order with report,report.txt,text/plain,15\r\n'
echo "headers and attachments: ok"

# DeleteFlag 2: the parsed messages are removed from the server's Maildir, the newsletter no
# template parsed stays.
run_case delete 2 "$DOVECOT_CA" "Shop:$DOVECOT_PORT:dave:keep"
expect_status delete 0
expect_file "$work/delete/out/orders.csv" 'A-1,"Ann",ann@example.org,\r\nA-2,"Ann",ann@example.org,\r\n'
[ "$(dovecot_count dave)" = 1 ] || fail "delete: $(dovecot_count dave) messages left, want 1"
grep -rq 'Subject: newsletter' "$DOVECOT_DIR/mail/dave/" || fail "delete: the unparsed newsletter was deleted"
[ "$(log_of delete txSystem.Log | grep -c 'POP3 delete called')" = 2 ] || fail "delete: delete log lines"
echo "delete parsed: ok"

# A wrong password costs that account only: the two boxes, one error-log line naming the
# account and the server's refusal (never the password), nothing of it in the system log,
# nothing deleted; the next account is still read.
dovecot_deliver carol "$msg/plain"
run_case badlogin 2 "$DOVECOT_CA" "Wrong:$DOVECOT_PORT:carol:not-the-password" "Work:$DOVECOT_PORT:bob:hunter2"
expect_status badlogin 0
grep -q 'Unable to establish a valid socket.' "$work/badlogin/stderr" || fail "badlogin: no socket box"
grep -q 'Unable to connect to mail source.' "$work/badlogin/stderr" || fail "badlogin: no connect box"
log_of badlogin txError.Log | grep -q 'POP3 account Wrong .*refused the login of user carol: -ERR' ||
    fail "badlogin: no refusal line: $(log_of badlogin txError.Log)"
! log_of badlogin txError.Log | grep -q 'not-the-password' || fail "badlogin: the password was logged"
! log_of badlogin txSystem.Log | grep -q 'Wrong' || fail "badlogin: the refused account is in the system log"
! log_of badlogin txSystem.Log | grep -q 'No messsages found' || fail "badlogin: refused login read as an empty mailbox"
log_of badlogin txSystem.Log | grep -q 'Parsed:2 of 2 with 2 of 2' || fail "badlogin: the next account was not read"
[ "$(dovecot_count carol)" = 1 ] || fail "badlogin: a message of the refused account is gone"
[ "$(dovecot_count bob)" = 0 ] || fail "badlogin: the good account's parsed messages were not deleted"
echo "wrong password: ok"

# Nothing listens on the port: the network line in txError.Log.
run_case refused 0 "$DOVECOT_CA" "Closed:$DOVECOT_FREE_PORT:ann:secret"
expect_status refused 0
log_of refused txError.Log | grep -q 'WinSock error 61, WSAECONNREFUSED: Connection refused' ||
    fail "refused: no network line: $(log_of refused txError.Log)"
grep -q 'Unable to establish a valid socket.' "$work/refused/stderr" || fail "refused: no socket box"
echo "refused port: ok"

# An empty mailbox: connected, nothing read.
run_case empty 0 "$DOVECOT_CA" "Empty:$DOVECOT_PORT:erin:nothing"
expect_status empty 0
log_of empty txSystem.Log | grep -q 'Connected to: Empty' || fail "empty: not connected"
log_of empty txSystem.Log | grep -q 'No messsages found.' || fail "empty: no 'No messsages found.'"
[ ! -s "$work/empty/out/orders.csv" ] || fail "empty: lines written"
echo "empty mailbox: ok"

# TLS from the start on the implicit-TLS port.
run_case tls 0 "$DOVECOT_CA" "Secure:$DOVECOT_TLS_PORT:ann:secret"
expect_status tls 0
log_of tls txSystem.Log | grep -q 'Parsed:3 of 3 with 2 of 2' || fail "tls: $(log_of tls txError.Log)"
echo "implicit TLS: ok"

# A certificate the trusted CA did not sign is refused, on both ports; nothing is read.
run_case untrusted 0 "$DOVECOT_OTHER_CA" "Secure:$DOVECOT_TLS_PORT:ann:secret" "Plain:$DOVECOT_PORT:ann:secret"
expect_status untrusted 0
[ "$(log_of untrusted txError.Log | grep -c 'the secure connection failed')" = 2 ] ||
    fail "untrusted: $(log_of untrusted txError.Log)"
! log_of untrusted txSystem.Log | grep -q 'Connected to' || fail "untrusted: connected anyway"
[ "$(grep -c 'Unable to establish a valid socket.' "$work/untrusted/stderr")" = 2 ] || fail "untrusted: boxes"
echo "untrusted certificate: ok"

# ProcessOnce in one program directory: two messages with the same header (no Message-ID) are
# two messages by their UIDL; a second run writes nothing; a message delivered since gives
# exactly its line; the session asks UIDL once.
dovecot_add_user gina twice
for code in A-5 A-6; do
    printf 'From: Ann <ann@example.org>\r\nSubject: order\r\nDate: Fri, 08 Jan 2021 12:34:56 +0000\r\n\r\nCode: %s\r\n' "$code" >"$msg/same-$code"
    dovecot_deliver gina "$msg/same-$code"
done
for round in 1 2 3; do
    [ "$round" = 3 ] && dovecot_deliver gina "$msg/encoded"
    extra_settings='ProcessOnce=True\r\n' run_case once 0 "$DOVECOT_CA" "Once:$DOVECOT_PORT:gina:twice"
    expect_status once 0
    case $round in
    1 | 2) expect_file "$work/once/out/orders.csv" 'A-5,"Ann",ann@example.org,\r\nA-6,"Ann",ann@example.org,\r\n' ;;
    3) expect_file "$work/once/out/orders.csv" 'A-5,"Ann",ann@example.org,\r\nA-6,"Ann",ann@example.org,\r\nB-1,"Bob",bob@example.net,\r\n' ;;
    esac
done
! log_of once txError.Log | grep -q . || fail "once: unexpected errors: $(log_of once txError.Log)"
# Only the first message is retrieved again (the run learns from it what the templates take).
retrieved=$(grep 'pop3(gina)' "$DOVECOT_LOG" | grep -o 'retr=[0-9]*' | tr '\n' ' ')
[ "$retrieved" = "retr=2 retr=1 retr=2 " ] || fail "once: messages retrieved per run: $retrieved"
echo "each message once by its UIDL, not retrieved again: ok"

# A server that offers no STARTTLS: the account is refused before anything of the login is
# sent (the server's log shows no login attempt), the next account is still read; written
# out as Security=None the same server is read, with one warning line per account.
first_log=$DOVECOT_LOG
DOVECOT_SSL=no dovecot_start "$work/plainserver" || fail "the server without TLS did not start"
dovecot_add_user frank plaintext
dovecot_deliver frank "$msg/plain"
run_case nostarttls 2 "$DOVECOT_CA" "Bare:$DOVECOT_PORT:frank:plaintext" "Work:$DOVECOT_PORT:frank:plaintext:Security=None"
expect_status nostarttls 0
log_of nostarttls txError.Log | grep -q 'POP3 account Bare .*the secure connection failed' ||
    fail "nostarttls: no refusal line: $(log_of nostarttls txError.Log)"
[ "$(log_of nostarttls txError.Log | grep -c 'POP3 account Work .*warning: Security=None')" = 1 ] ||
    fail "nostarttls: no warning for the None account: $(log_of nostarttls txError.Log)"
! log_of nostarttls txError.Log | grep -q 'Bare.*warning' || fail "nostarttls: warning for the refused account"
[ "$(grep -c 'user=<frank>' "$DOVECOT_LOG")" = 1 ] ||
    fail "nostarttls: the refused account's login reached the server: $(cat "$DOVECOT_LOG")"
# One session is the fixture's own probe at start; the other is the refused account's.
[ "$(grep -c 'pop3-login: .*no auth attempts' "$DOVECOT_LOG")" = 2 ] || fail "nostarttls: no refused session in the log: $(cat "$DOVECOT_LOG")"
log_of nostarttls txSystem.Log | grep -q 'Parsed:1 of 1 with 2 of 2' || fail "nostarttls: the None account was not read"
[ "$(dovecot_count frank)" = 0 ] || fail "nostarttls: the parsed message was not deleted"
echo "no STARTTLS refused, None read with a warning: ok"
