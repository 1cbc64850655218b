#!/usr/bin/env bash
# The real txengine stopped from outside and telling the program that started it what it did:
# SIGTERM and SIGINT end the run after the current message (whole lines, exit status 1, the
# log says where); the report file names each template's lines, output file and failures, and
# the system log has the same numbers; TALLIX_TEMPLATE_DIR picks the templates of one run.
set -u
data="$TALLIX_TEST_DATA/e2e"
. "$(dirname "$0")/../support/e2e_lib.sh"
work=$(mktemp -d)
engine_pid=
trap '[ -n "$engine_pid" ] && kill -KILL "$engine_pid" 2>/dev/null; rm -rf "$work"' EXIT

# prepare DIR MAILBOX: a program directory with the Orders template over MAILBOX.
prepare() {
    local dir=$1 mailbox=$2
    mkdir -p "$dir/home/templates" "$dir/config/Vantroy Technologies" "$dir/out"
    cp "$data/Orders.txf" "$dir/home/templates/"
    printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=NETSCAPE\r\nLocalFileName=%s\r\nDeleteFlag=0\r\n' \
        "$dir/home/templates" "$mailbox" >"$dir/config/Vantroy Technologies/Tallix.ini"
}

# Many small orders, so that a run lasts long enough to be stopped in the middle.
big="$work/big.mbox"
python3 - "$big" <<'PY'
import sys
with open(sys.argv[1], "w") as f:
    for i in range(300000):
        f.write("From - Mon Mar  2 09:00:00 2026\nFrom: Ann <ann@example.org>\n"
                "Subject: order %d\nDate: Mon, 02 Mar 2026 09:00:00 +0100\n\nCode: C-%d\n\n" % (i, i))
PY

for sig in TERM INT; do
    dir="$work/stop-$sig"
    prepare "$dir" "$big"
    (cd "$dir/out" && exec env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
        TALLIX_HOME="$dir/home" XDG_CONFIG_HOME="$dir/config" TALLIX_RUN_REPORT="$dir/report" \
        "$TALLIX_BIN/txengine" /sx </dev/null >"$dir/stdout" 2>"$dir/stderr") &
    engine_pid=$!
    # Stop it once it is reading messages.
    for _ in $(seq 600); do
        grep -q '^message=[1-9]' "$dir/report" 2>/dev/null && break
        sleep 0.1
    done
    kill -"$sig" "$engine_pid"
    wait "$engine_pid"
    status=$?
    engine_pid=
    [ "$status" = 1 ] || fail "SIG$sig: exit status $status, $(cat "$dir/stderr")"
    line=$(grep -o 'Run stopped after message [0-9]* of 300000' "$dir/home/txSystem.Log") ||
        fail "SIG$sig: no stop line in the system log"
    n=$(echo "$line" | awk '{print $5}')
    [ "$n" -lt 300000 ] || fail "SIG$sig: the run was not stopped early"
    # Every message before the stop wrote its whole line, and none after it did.
    [ "$(wc -l <"$dir/out/orders.csv")" = "$n" ] || fail "SIG$sig: $n messages, $(wc -l <"$dir/out/orders.csv") lines"
    [ "$(tail -c 2 "$dir/out/orders.csv" | od -An -c | tr -d ' ')" = '\r\n' ] || fail "SIG$sig: a cut line"
    grep -q '^state=stopped$' "$dir/report" || fail "SIG$sig: report state: $(head -1 "$dir/report")"
    grep -q "^message=$n\$" "$dir/report" || fail "SIG$sig: report message number"
done

# A whole run: the report and the system log give the lines and the failures per template (a
# template whose output cannot be opened fails once and is passed over for the rest of the run).
dir="$work/summary"
prepare "$dir" "$data/netscape.mbox"
sed 's|^File=orders.csv|File=missing-folder/bad.csv|' "$data/Orders.txf" >"$dir/home/templates/Broken.txf"
run_engine "$dir" TALLIX_RUN_REPORT="$dir/report"
expect_status summary 0
grep -q '^state=done$' "$dir/report" || fail "summary: report state"
grep -qP '^template=3\t0\tOrders\.txf\torders\.csv\t$' "$dir/report" || fail "summary: Orders tally: $(cat "$dir/report")"
# The failure names the file in full with the system's reason beside the report's own text.
grep -qP "^template=0\t1\tBroken\.txf\tmissing-folder/bad\.csv\tInvalid Output file defined\. in Broken\.txf; \Q$dir\E/out/missing-folder/bad\.csv: No such file or directory\$" "$dir/report" ||
    fail "summary: Broken tally: $(cat "$dir/report")"
grep -q 'Template Orders.txf: 3 lines written to orders.csv.\?$' "$dir/home/txSystem.Log" || fail "summary: Orders log line"
grep -q 'Template Broken.txf: 0 lines written to missing-folder/bad.csv, failed on 1 message (Invalid Output file defined. in Broken.txf; .*: No such file or directory)' \
    "$dir/home/txSystem.Log" || fail "summary: Broken log line"

# The template directory of one run: the stored one (missing here) is neither read nor checked.
dir="$work/override"
prepare "$dir" "$data/netscape.mbox"
mkdir -p "$dir/examples"
sed 's|^File=orders.csv|File=examples.csv|' "$data/Orders.txf" >"$dir/examples/Example.txf"
sed -i "s|^TemplateDir=.*|TemplateDir=$dir/mine\r|" "$dir/config/Vantroy Technologies/Tallix.ini"
run_engine "$dir" TALLIX_TEMPLATE_DIR="$dir/examples"
expect_status override 0
[ "$(wc -l <"$dir/out/examples.csv")" = 3 ] || fail "override: the example template did not run"
[ ! -e "$dir/out/orders.csv" ] || fail "override: the stored templates ran"
! grep -qi "template" "$dir/stderr" || fail "override: $(cat "$dir/stderr")"
echo ok
