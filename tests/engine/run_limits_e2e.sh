#!/usr/bin/env bash
# The real txengine at the edges of its own files: an output file that reaches the file size
# limit half way through a line (as a full disk does), and the scratch directory a killed run
# left behind.
set -u
data="$TALLIX_TEST_DATA/e2e/maildir"
. "$(dirname "$0")/../support/e2e_lib.sh"
# The engine makes its scratch directories in $TMPDIR only when the path holds no "." and no
# "htm": so does this one, for the case that plants a directory there.
while :; do
    work=$(mktemp -d /tmp/runlimitsXXXXXX)
    case "$work" in *.* | *[hH][tT][mM]*) rmdir "$work" ;; *) break ;; esac
done
trap 'rm -rf "$work"' EXIT
export TZ=UTC
export LC_ALL=C  # lengths in bytes

# setup NAME: a case directory with the test Maildir, the "Everything" template (one line per
# message, to all.csv) and DeleteFlag 2, so a message is deleted only once its line is written.
setup() {
    local dir="$work/$1"
    mkdir -p "$dir/home/templates" "$dir/config/Vantroy Technologies" "$dir/out" "$dir/tmp"
    cp "$data/Everything.txf" "$dir/home/templates/"
    "$MAILDIR_FIXTURE" "$dir/Maildir" || fail "$1: fixture not written"
    printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=EXTENDED MAPI\r\nProfile=%s\r\nDeleteFlag=2\r\n' \
        "$dir/home/templates" "$dir/Maildir" >"$dir/config/Vantroy Technologies/Tallix.ini"
}
# The message files left in new/ and cur/, by their fixture number.
left() { ls "$work/$1/Maildir/new" "$work/$1/Maildir/cur" | sed -n 's/^[0-9]*\.M\([0-9]*\)P.*/\1/p' | sort -n | tr '\n' ' '; }

# The lines a run without limits writes, one per message in delivery order.
setup free
run_engine "$work/free" TMPDIR="$work/free/tmp"
expect_status free 0
mapfile -t lines < <(sed 's/\r$//' "$work/free/out/all.csv")
[ "${#lines[@]}" = 9 ] || fail "free: ${#lines[@]} lines"

# The file size limit (8 KiB) is reached five bytes into the third message's line: the first
# two lines are written, the five bytes are cut back off, and every later message fails the
# same way. The file ends with whole lines, the failure is reported with the file and the
# reason, and only the messages whose lines were written are deleted. The limit's signal does
# not end the engine.
limit=8192
setup full
room=$((${#lines[0]} + 2 + ${#lines[1]} + 2 + 5))
{ head -c $((limit - room - 2)) /dev/zero | tr '\0' 'x'; printf '\r\n'; } >"$work/full/out/all.csv"
cp "$work/full/out/all.csv" "$work/full/expected"
printf '%s\r\n' "${lines[0]}" "${lines[1]}" >>"$work/full/expected"
(ulimit -f $((limit / 1024)) && run_engine "$work/full" TMPDIR="$work/full/tmp")
expect_status full 0
cmp -s "$work/full/expected" "$work/full/out/all.csv" ||
    fail "full: output differs: $(tail -c 120 "$work/full/out/all.csv" | cat -A)"
grep -q 'Could not write to output file: all.csv' "$work/full/home/txError.Log" || fail "full: write failure not reported"
grep -q 'Error# 61  Disk full' "$work/full/home/txError.Log" || fail "full: reason not reported"
[ "$(left full)" = "3 4 5 6 7 8 9 " ] || fail "full: left $(left full)"

# A scratch directory left by a process that has ended (a run killed with -9) is removed by
# the next run; one of a process still running, and anything that is not a directory of ours,
# stays.
setup killed
sleep 0 & ended=$!
wait "$ended"
mkdir -p "$work/killed/tmp/txscratch-$ended-abcdef/scope-qwerty"
printf 'mail' >"$work/killed/tmp/txscratch-$ended-abcdef/\$\$tallix.tmp"
mkdir -p "$work/killed/tmp/txscratch-$$-abcdef"
mkdir -p "$work/outside" && printf 'kept' >"$work/outside/keep"
ln -s "$work/outside" "$work/killed/tmp/txscratch-$ended-linkab"
run_engine "$work/killed" TMPDIR="$work/killed/tmp"
expect_status killed 0
[ ! -e "$work/killed/tmp/txscratch-$ended-abcdef" ] || fail "killed: scratch directory of the ended run left"
[ -d "$work/killed/tmp/txscratch-$$-abcdef" ] || fail "killed: scratch directory of a running process removed"
[ -L "$work/killed/tmp/txscratch-$ended-linkab" ] && [ -e "$work/outside/keep" ] || fail "killed: link or its target removed"
echo "run limits e2e: ok"
