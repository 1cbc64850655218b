#!/usr/bin/env bash
# The real txengine over small mailbox files: Netscape, Eudora, the leading ">" form, LF line
# ends with a multipart attachment, a Thunderbird-style folder, and a message without "From:"
# between good ones. Output files are compared byte for byte.
set -u
data="$TALLIX_TEST_DATA/e2e"
. "$(dirname "$0")/../support/e2e_lib.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# run_case NAME USESOURCE MAILBOX: a fresh program and settings directory, both templates.
run_case() {
    local name=$1 source=$2 mailbox=$3
    local dir="$work/$name"
    mkdir -p "$dir/home/templates" "$dir/config/Vantroy Technologies" "$dir/out"
    cp "$data/Orders.txf" "$data/Attachments.txf" "$dir/home/templates/"
    printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=%s\r\nLocalFileName=%s\r\nDeleteFlag=0\r\n' \
        "$dir/home/templates" "$source" "$mailbox" >"$dir/config/Vantroy Technologies/Tallix.ini"
    run_engine "$dir"
}

run_case netscape NETSCAPE "$data/netscape.mbox"
expect_status netscape 0
# The message without "From:" is reported and handed over with an empty sender; the HTML
# body is read without its tags; the newsletter matches no template.
expect_file "$work/netscape/out/orders.csv" \
    'A-11,"Ann Smith",ann@example.org,3/2/2026\r\nA-12,"",,3/3/2026\r\nA-13,"Bob Jones",bob@example.net,3/4/2026\r\n'
grep -q 'clsNetscape - GetSender' "$work/netscape/home/txError.Log" || fail "missing sender not reported"
grep -q 'Parsed:4 of 4 with 2 of 2' "$work/netscape/home/txSystem.Log" || fail "summary line missing"
[ ! -e "$work/netscape/out/attachments.csv" ] || [ ! -s "$work/netscape/out/attachments.csv" ] || fail "attachments.csv not empty"

run_case eudora EUDORA "$data/eudora.mbx"
expect_status eudora 0
expect_file "$work/eudora/out/orders.csv" \
    'E-21,"Ann Smith",ann@example.org,3/2/2026\r\nE-22,"Bob",bob@example.net,3/3/2026\r\n'
grep -q 'Connected to: Eudora mail file' "$work/eudora/home/txSystem.Log" || fail "Eudora ID"

run_case leading NETSCAPE "$data/leading.mbox"
expect_status leading 0
expect_file "$work/leading/out/orders.csv" \
    'G-31,"Ann",ann@example.org,3/2/2026\r\nG-32,"Bob",bob@example.net,3/3/2026\r\n'

run_case multipart NETSCAPE "$data/multipart_lf.mbox"
expect_status multipart 0
expect_file "$work/multipart/out/attachments.csv" 'M-41\r\n'
# The text/plain attachment is read as body text too, now decoded from base64.
expect_file "$work/multipart/out/orders.csv" \
    'M-41 end,"Form",form@example.org,3/6/2026\r\nL-42,"Dan",dan@example.org,3/7/2026\r\n'

run_case thunderbird NETSCAPE "$TALLIX_TEST_DATA/sources/thunderbird_lf.mbox"
expect_status thunderbird 0
n=$(grep -c '^From - ' "$TALLIX_TEST_DATA/sources/thunderbird_lf.mbox")
grep -q "Parsed:$n of $n with 2 of 2" "$work/thunderbird/home/txSystem.Log" || fail "Thunderbird folder: not all $n messages walked"
grep -q '^,"Shop",orders@shop.example,1/8/2021' "$work/thunderbird/out/orders.csv" || fail "Thunderbird folder: first order line"

# A message whose attachment is its last part, as the last or the only message of the file,
# with and without the blank line after it, in LF and CR LF files: the attachment is read.
plain_msg='From - Fri Mar  6 08:00:00 2026\nFrom: Ann <ann@example.org>\nTo: Shop <shop@example.com>\nSubject: Hello\nDate: Fri, 06 Mar 2026 08:00:00 +0100\n\nNo order here.\n'
attached_msg='From - Sat Mar  7 08:00:00 2026\nFrom: Form <form@example.org>\nTo: Shop <shop@example.com>\nSubject: Order attached\nDate: Sat, 07 Mar 2026 08:00:00 +0100\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary="xyz"\n\n--xyz\nContent-Type: text/plain\n\nSee the attachment.\n\n--xyz\nContent-Type: text/plain; name="order.txt"\nContent-Transfer-Encoding: base64\nContent-Disposition: attachment; filename="order.txt"\n\nQ29kZTogWi03NyBlbmQNCg==\n--xyz--\n'
for layout in last only; do
    for tail in none blank; do
        for ends in lf crlf; do
            name="attached_${layout}_${tail}_${ends}"
            box="$work/$name.mbox"
            {
                [ "$layout" = last ] && printf "$plain_msg\n"
                printf "$attached_msg"
                [ "$tail" = blank ] && printf '\n'
            } >"$box.lf"
            if [ "$ends" = crlf ]; then sed 's/$/\r/' "$box.lf" >"$box"; else mv "$box.lf" "$box"; fi
            run_case "$name" NETSCAPE "$box"
            expect_status "$name" 0
            expect_file "$work/$name/out/attachments.csv" 'Z-77\r\n'
        done
    done
done

# The same run with a window (offscreen platform, no /sx) writes the same lines.
dir="$work/windowed"
mkdir -p "$dir/home/templates" "$dir/config/Vantroy Technologies" "$dir/out"
cp "$data/Orders.txf" "$data/Attachments.txf" "$dir/home/templates/"
printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=NETSCAPE\r\nLocalFileName=%s\r\nDeleteFlag=0\r\n' \
    "$dir/home/templates" "$data/leading.mbox" >"$dir/config/Vantroy Technologies/Tallix.ini"
(cd "$dir/out" && QT_QPA_PLATFORM=offscreen TALLIX_HOME="$dir/home" XDG_CONFIG_HOME="$dir/config" \
    timeout 60 "$TALLIX_BIN/txengine" </dev/null >/dev/null 2>&1) || fail "windowed run failed"
cmp -s "$dir/out/orders.csv" "$work/leading/out/orders.csv" || fail "windowed run wrote different lines"

# A mailbox that cannot be read ends the run with status 1.
run_case missing NETSCAPE "$work/no-such.mbox"
expect_status missing 1
grep -q 'clsNetscape - NSGetMessages' "$work/missing/home/txError.Log" || fail "unreadable mailbox not reported"
grep -qF "$work/no-such.mbox: No such file or directory" "$work/missing/home/txError.Log" ||
    fail "the missing mailbox is not named with the reason"

# A standard mbox file read as a Netscape one has no messages: the run says which format
# to choose beside "No messsages found.".
run_case wrongkind NETSCAPE "$TALLIX_TEST_DATA/sources/standard.mbox"
expect_status wrongkind 0
grep -q 'No messsages found.' "$work/wrongkind/home/txSystem.Log" || fail "wrong kind: no-messages line"
grep -qF 'standard.mbox: It looks like a standard mbox file: choose the format "Other - RFC 822 Compliant File"' \
    "$work/wrongkind/home/txSystem.Log" || fail "wrong kind: the format to choose is not said"

# No template can write its output (a missing folder): nothing is read, status 1.
run_case noout NETSCAPE "$data/netscape.mbox"
sed -i "s#^File=.*#File=$work/no-such-folder/x.csv\r#" "$work/noout/home/templates/"*.txf
rm -f "$work/noout/home/"*.Log
run_engine "$work/noout"
expect_status noout 1
grep -qF "Invalid Output file defined. in Orders.txf" "$work/noout/home/txError.Log" || fail "noout: not reported"
grep -qF "$work/no-such-folder/x.csv: No such file or directory" "$work/noout/home/txError.Log" ||
    fail "noout: the file and the reason are not named"
! grep -q 'Connected to' "$work/noout/home/txSystem.Log" || fail "noout: the mailbox was read"
echo "mailbox e2e: ok"
