#!/usr/bin/env bash
# The real txengine with UseSource "FILE_OTHER" over standard mbox files: LF and CR LF line
# ends, quoted ">From " body lines, a body line starting with "From " that starts no message, a
# web mail export's "From " line, an attachment in the last message, and a lone message saved
# without any "From " line. Output files are compared byte for byte.
set -u
data="$TALLIX_TEST_DATA"
. "$(dirname "$0")/../support/e2e_lib.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The first body line of the message whose subject says "quoted": shows the unquoting.
first_line_template() {
    printf '[General]\r\nActive=True\r\nNum_Variables=1\r\nLast_Ran=Never\r\n'
    printf '[Filter]\r\nCommand=MSG_SUBJECT\r\nFind_String=quoted\r\n'
    printf '[Variables]\r\nVar1=First;MSG_TEXT;{Beginning of Field};{End of Line};0;0;1;0;0\r\n'
    printf '[Output]\r\nAllowDuplicate=True\r\nFile=firstline.csv\r\nDelimiter=COMMA\r\n'
    printf 'Output_Count=1\r\nOutput1=First\r\n[Scripts]\r\nrun=\r\n'
}

# run_case NAME MAILBOX: a fresh program and settings directory, three templates.
run_case() {
    local name=$1 mailbox=$2
    local dir="$work/$name"
    mkdir -p "$dir/home/templates" "$dir/config/Vantroy Technologies" "$dir/out"
    cp "$data/e2e/Orders.txf" "$data/e2e/Attachments.txf" "$dir/home/templates/"
    first_line_template >"$dir/home/templates/FirstLine.txf"
    printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=FILE_OTHER\r\nLocalFileName=%s\r\nDeleteFlag=0\r\n' \
        "$dir/home/templates" "$mailbox" >"$dir/config/Vantroy Technologies/Tallix.ini"
    run_engine "$dir"
}

sed 's/$/\r/' "$data/sources/standard.mbox" >"$work/standard_crlf.mbox"
for case in lf crlf; do
    box="$data/sources/standard.mbox"
    [ "$case" = crlf ] && box="$work/standard_crlf.mbox"
    run_case "$case" "$box"
    expect_status "$case" 0
    expect_file "$work/$case/out/orders.csv" \
        'X-51,"Ann Smith",ann@example.org,3/2/2026\r\nX-52,"Bob Jones",bob@example.net,3/3/2026\r\nX-54,"Dan",dan@example.org,3/5/2026\r\n'
    expect_file "$work/$case/out/firstline.csv" 'From the warehouse: B-52\r\n'
    expect_file "$work/$case/out/attachments.csv" 'X-55\r\n'
    grep -q 'Connected to: mbox mail file' "$work/$case/home/txSystem.Log" || fail "$case: mbox ID not logged"
    grep -q 'Parsed:5 of 5 with 3 of 3' "$work/$case/home/txSystem.Log" || fail "$case: not all 5 messages walked"
    [ ! -s "$work/$case/home/txError.Log" ] || fail "$case: errors reported: $(cat "$work/$case/home/txError.Log")"
done

# A lone message saved from a mail program, without any "From " line: one message, no
# receive date.
run_case lone "$data/sources/lone_message.eml"
expect_status lone 0
expect_file "$work/lone/out/orders.csv" 'X-61,"Eve",eve@example.org,\r\n'
grep -q 'Parsed:1 of 1 with 3 of 3' "$work/lone/home/txSystem.Log" || fail "lone message not walked"

# An empty file: nothing to read, no error.
: >"$work/empty.mbox"
run_case empty "$work/empty.mbox"
expect_status empty 0
[ ! -s "$work/empty/out/orders.csv" ] || fail "empty mbox wrote output"

# A mailbox that cannot be read ends the run with status 1.
run_case missing "$work/no-such.mbox"
expect_status missing 1
grep -q 'clsNetscape - NSGetMessages' "$work/missing/home/txError.Log" || fail "unreadable mbox not reported"
echo "mbox e2e: ok"
