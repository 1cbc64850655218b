#!/usr/bin/env bash
# The real txengine over the test Maildir with both local-store sources ("EXTENDED MAPI",
# "SIMPLE MAPI"): output lines compared byte for byte, deletion of the parsed messages'
# files, a walk that deletes every message, an empty profile with $MAILDIR set, and a
# profile that is not a Maildir. Times are read in UTC.
set -u
data="$TALLIX_TEST_DATA/e2e/maildir"
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TZ=UTC

# run_case NAME USESOURCE PROFILE DELETEFLAG MAILDIR TEMPLATES...: a fresh Maildir, program
# directory, settings and TMPDIR for each run. "SELF" as PROFILE or MAILDIR is the case's own
# Maildir; an empty MAILDIR is left unset.
run_case() {
    local name=$1 source=$2 profile=$3 deleteflag=$4 maildir=$5
    shift 5
    local dir="$work/$name"
    [ "$profile" = SELF ] && profile="$dir/Maildir"
    [ "$maildir" = SELF ] && maildir="$dir/Maildir"
    mkdir -p "$dir/home/templates" "$dir/config/Vantroy Technologies" "$dir/out" "$dir/tmp"
    for t in "$@"; do cp "$data/$t.txf" "$dir/home/templates/"; done
    "$MAILDIR_FIXTURE" "$dir/Maildir" || fail "$name: fixture not written"
    # A case's own additions to the Maildir.
    [ -z "${PREPARE:-}" ] || "$PREPARE" "$dir/Maildir"
    printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=%s\r\nProfile=%s\r\nDeleteFlag=%s\r\n' \
        "$dir/home/templates" "$source" "$profile" "$deleteflag" >"$dir/config/Vantroy Technologies/Tallix.ini"
    local maildir_env=(-u MAILDIR)
    [ -n "$maildir" ] && maildir_env=(MAILDIR="$maildir")
    (cd "$dir/out" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "${maildir_env[@]}" \
        TMPDIR="$dir/tmp" TALLIX_HOME="$dir/home" XDG_CONFIG_HOME="$dir/config" \
        "$TALLIX_BIN/txengine" /sx </dev/null >"$dir/stdout" 2>"$dir/stderr")
    echo $? >"$dir/status"
    # The scratch directory (attachment files included) is gone with the process.
    [ -z "$(ls -A "$dir/tmp")" ] || fail "$name: scratch files left: $(ls -A "$dir/tmp")"
}
expect_file() {  # expect_file PATH EXPECTED-BYTES (printf format) [ARGUMENTS]
    local want
    want=$(printf "$2" "${@:3}" | od -c)
    [ "$(od -c <"$1" 2>/dev/null)" = "$want" ] || fail "$1 differs: $(cat -A "$1" 2>&1)"
}
expect_status() { [ "$(cat "$work/$1/status")" = "$2" ] || fail "$1: exit status $(cat "$work/$1/status"), $(cat "$work/$1/stderr")"; }
# The message files left in new/ and cur/, by their fixture number.
left() { ls "$work/$1/Maildir/new" "$work/$1/Maildir/cur" | sed -n 's/^[0-9]*\.M\([0-9]*\)P.*/\1/p' | sort -n | tr '\n' ' '; }

orders_head='A-11,"Ann Smith",ann@example.org,"Shop Orders","Order A-11",%s,3/2/2026\r\n'
orders_rest='\xc3\x9c-12,"J\xc3\xbcrgen M\xc3\xbcller",juergen@example.de,"orders@shop.example","Order f\xc3\xbcr J\xc3\xbcrgen",3/2/2026,3/2/2026\r\n'
orders_rest+='B-13 Gr\xc3\xb6\xc3\x9fe,"Bob",bob@example.net,"Shop","order latin",3/2/2026,3/2/2026\r\n'
orders_rest+='H-14,"Web Shop",web@shop.example,"Orders","Order html",%s,3/2/2026\r\n'
orders_rest+='N-15,"Carol",carol@example.com,"","Order no recipient",3/2/2026,3/2/2026\r\n'
orders_rest+='T-18,"Tom",tom@example.org,"Shop","Order truncated",3/2/2026,3/2/2026\r\n'
attachments='F-1,D-2,R-2231,E-1\r\n'

# Extended MAPI: the sent date comes from Date: (none for the HTML message).
run_case extended "EXTENDED MAPI" SELF 0 "" Orders Attachments
dir="$work/extended"
expect_status extended 0
expect_file "$dir/out/orders.csv" "$orders_head$orders_rest" 3/1/2026 
expect_file "$dir/out/attachments.csv" "$attachments"
grep -q 'Connected to: Mapi System' "$dir/home/txSystem.Log" || fail "extended: ID"
grep -q 'Parsed:9 of 9 with 2 of 2' "$dir/home/txSystem.Log" || fail "extended: not all 9 messages walked"
grep -q 'could not be read as a message' "$dir/home/txError.Log" || fail "extended: junk file not noted"
[ "$(left extended)" = "1 2 3 4 5 6 7 8 9 " ] || fail "extended: files removed with DeleteFlag 0: $(left extended)"

# Extended MAPI with an empty profile reads $MAILDIR: the same lines.
run_case extended_env "EXTENDED MAPI" "" 0 SELF Orders Attachments
expect_status extended_env 0
cmp -s "$work/extended_env/out/orders.csv" "$dir/out/orders.csv" || fail "empty profile with MAILDIR: different lines"
cmp -s "$work/extended_env/out/attachments.csv" "$dir/out/attachments.csv" || fail "empty profile: attachments"

# Simple MAPI reads the default store whatever the profile; every date is the delivery date.
run_case simple "SIMPLE MAPI" "/not/used" 0 SELF Orders Attachments
expect_status simple 0
expect_file "$work/simple/out/orders.csv" "$orders_head$orders_rest" 3/2/2026 3/2/2026
expect_file "$work/simple/out/attachments.csv" "$attachments"
grep -q 'Parsed:9 of 9 with 2 of 2' "$work/simple/home/txSystem.Log" || fail "simple: not all 9 messages walked"

# Any header by name, decoded, as a variable and as the filter; a line per attachment with its
# name, decoded size and MIME type, in the message's order.
run_case headers "EXTENDED MAPI" SELF 0 "" Headers Parts
expect_status headers 0
expect_file "$work/headers/out/headers.csv" 'Order f\xc3\xbcr J\xc3\xbcrgen,\r\n'
date_field='Mon, 02 Mar 2026 12:30:00 +0000'
expect_file "$work/headers/out/parts.csv" \
    'Attachments,codes.txt,text/plain,10,%s\r\nAttachments,\xc3\xbcbersicht refs.txt,text/plain,12,%s\r\nAttachments,codes-2.txt,text/plain,8,%s\r\nAttachments,evil.txt,application/octet-stream,9,%s\r\n' \
    "$date_field" "$date_field" "$date_field" "$date_field"

# DeleteFlag 2: the files of the messages the templates parsed are removed; the junk file
# and the newsletter, which no template took, stay, and so do the files outside the inbox.
for s in extended simple; do
    src="EXTENDED MAPI"; [ $s = simple ] && src="SIMPLE MAPI"
    run_case "delete_$s" "$src" "" 2 SELF Orders Attachments
    expect_status "delete_$s" 0
    [ "$(left "delete_$s")" = "7 9 " ] || fail "delete_$s: left $(left "delete_$s")"
    [ -e "$work/delete_$s/Maildir/cur/.hidden" ] && [ -n "$(ls "$work/delete_$s/Maildir/tmp")" ] || fail "delete_$s: files outside the inbox touched"
    grep -q 'Parsed:9 of 9 with 2 of 2' "$work/delete_$s/home/txSystem.Log" || fail "delete_$s: walk"
done
cmp -s "$work/delete_simple/out/orders.csv" "$work/simple/out/orders.csv" || fail "delete_simple: lines differ from the run without deleting"

# Deleting every message while walking still visits each once, in delivery order.
everything='"Order A-11",10:00:00 AM\r\n"Order f\xc3\xbcr J\xc3\xbcrgen",10:01:00 AM\r\n"order latin",10:02:00 AM\r\n'
everything+='"Order html",10:03:00 AM\r\n"Order no recipient",10:04:00 AM\r\n"Attachments",10:05:00 AM\r\n'
everything+='"",10:06:00 AM\r\n"Order truncated",10:07:00 AM\r\n"Weekly news",10:08:00 AM\r\n'
for s in extended simple; do
    src="EXTENDED MAPI"; [ $s = simple ] && src="SIMPLE MAPI"
    run_case "all_$s" "$src" "" 2 SELF Everything
    expect_status "all_$s" 0
    expect_file "$work/all_$s/out/all.csv" "$everything"
    [ -z "$(left "all_$s")" ] || fail "all_$s: left $(left "all_$s")"
    grep -q 'Parsed:9 of 9 with 1 of 1' "$work/all_$s/home/txSystem.Log" || fail "all_$s: walk"
done

# Files of the inbox that are not read: a link to a message outside the Maildir, and a file past
# the size limit whose name holds a line break. Neither gives a line or is deleted; each is
# named in the error log, and the name's line break cannot start a line of its own there.
hostile_files() {
    printf 'From: Eve <eve@example.org>\r\nSubject: Order secret\r\n\r\nCode: S-1\r\n' >"$1/../secret"
    ln -s "$1/../secret" "$1/new/1772445630.Mlink.host"
    printf 'From: Eve <eve@example.org>\r\nSubject: Order huge\r\n\r\nCode: H-1\r\n' >"$1/cur/1772445690.Mhuge
Forged entry"
    truncate -s $((64 * 1024 * 1024 + 1)) "$1/cur/1772445690.Mhuge
Forged entry"
}
for s in extended simple; do
    src="EXTENDED MAPI"; [ $s = simple ] && src="SIMPLE MAPI"
    PREPARE=hostile_files run_case "hostile_$s" "$src" "" 2 SELF Everything
    expect_status "hostile_$s" 0
    d="$work/hostile_$s"
    expect_file "$d/out/all.csv" "$everything"
    [ -L "$d/Maildir/new/1772445630.Mlink.host" ] || fail "hostile_$s: the link was deleted"
    [ -e "$d/Maildir/cur/1772445690.Mhuge
Forged entry" ] || fail "hostile_$s: the long file was deleted"
    [ -e "$d/secret" ] || fail "hostile_$s: the linked file was deleted"
    log=$(cat "$d/home/txError.Log")
    grep -q 'not a regular file' <<<"$log" || fail "hostile_$s: link not logged: $log"
    grep -q "In message file: $d/Maildir/new/1772445630.Mlink.host" <<<"$log" || fail "hostile_$s: link not named: $log"
    grep -q 'longer than the limit of 67108864 bytes' <<<"$log" || fail "hostile_$s: long file not logged: $log"
    grep -qF "In message file: $d/Maildir/cur/1772445690.Mhuge\nForged entry" <<<"$log" || fail "hostile_$s: long file not named: $log"
    ! grep -q '^Forged' <<<"$log" || fail "hostile_$s: a file name wrote a line of its own: $log"
done

# A profile that is not a Maildir: the logon fails, the engine says it could not connect and
# ends normally; nothing is written.
run_case notmaildir "EXTENDED MAPI" "$work" 0 "" Orders
expect_status notmaildir 0
grep -q 'Unable to connect to mail source.' "$work/notmaildir/stderr" || fail "notmaildir: no connect error"
[ ! -e "$work/notmaildir/out/orders.csv" ] || fail "notmaildir: output written"
echo "maildir e2e: ok"
