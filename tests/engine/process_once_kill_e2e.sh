#!/usr/bin/env bash
# The real txengine with ProcessOnce killed (SIGKILL) at 20 random moments over a 20,000-
# message mailbox, then run to its end: every message's line is there, a line is written
# again at most for the one message in flight at each kill, and never for a template with
# the duplicate check on; no line is cut.
set -u
data="$TALLIX_TEST_DATA/e2e"
. "$(dirname "$0")/../support/e2e_lib.sh"
work=$(mktemp -d)
engine_pid=
trap '[ -n "$engine_pid" ] && kill -KILL "$engine_pid" 2>/dev/null; rm -rf "$work"' EXIT
messages=20000
kills=20

dir="$work/kill"
mkdir -p "$dir/home/templates" "$dir/config/Vantroy Technologies" "$dir/out"
cp "$data/Orders.txf" "$dir/home/templates/"
sed 's|^AllowDuplicate=True|AllowDuplicate=False|; s|^File=orders.csv|File=checked.csv|' \
    "$data/Orders.txf" >"$dir/home/templates/Checked.txf"
python3 - "$work/big.mbox" "$messages" <<'PY'
import sys
with open(sys.argv[1], "w") as f:
    for i in range(int(sys.argv[2])):
        f.write("From ann@example.org Mon Mar  2 09:00:00 2026\nFrom: Ann <ann@example.org>\n"
                "Message-ID: <%d@example.org>\nSubject: order %d\n\nCode: C-%d\n\n" % (i, i, i))
PY
printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=FILE_OTHER\r\nLocalFileName=%s\r\nDeleteFlag=0\r\nProcessOnce=True\r\n' \
    "$dir/home/templates" "$work/big.mbox" >"$dir/config/Vantroy Technologies/Tallix.ini"

lines() { if [ -e "$1" ]; then wc -l <"$1"; else echo 0; fi; }
killed=0
for i in $(seq "$kills"); do
    (cd "$dir/out" && exec env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
        TALLIX_HOME="$dir/home" XDG_CONFIG_HOME="$dir/config" \
        "$TALLIX_BIN/txengine" /sx </dev/null >"$dir/stdout" 2>"$dir/stderr") &
    engine_pid=$!
    # A random moment while messages are read: once the run has written between 1 and 900
    # lines more (the output is looked at every 5 ms, so the moment falls anywhere in a
    # message's work).
    target=$(($(lines "$dir/out/orders.csv") + RANDOM % 900 + 1))
    for _ in $(seq 2000); do
        [ "$(lines "$dir/out/orders.csv")" -ge "$target" ] && break
        kill -0 "$engine_pid" 2>/dev/null || break
        sleep 0.005
    done
    kill -KILL "$engine_pid" 2>/dev/null && killed=$((killed + 1))
    wait "$engine_pid" 2>/dev/null
    engine_pid=
done
before=$(lines "$dir/out/orders.csv")
run_engine "$dir"
expect_status kill 0
echo "killed $killed times; $before lines before the last run"
[ "$before" -gt 2000 ] || fail "the kills did not come while messages were read"

for file in orders checked; do
    out="$dir/out/$file.csv"
    [ "$(tail -c 2 "$out" | od -An -c | tr -d ' ')" = '\r\n' ] || fail "$file: a cut line at the end"
    bad=$(grep -cv '^C-[0-9]*,"Ann",ann@example.org,' "$out")
    [ "$bad" = 0 ] || fail "$file: $bad lines are not whole lines"
    distinct=$(cut -d, -f1 "$out" | sort -u | wc -l)
    [ "$distinct" = "$messages" ] || fail "$file: $distinct of $messages messages have their line"
    extra=$(($(wc -l <"$out") - messages))
    echo "$file: $extra lines written again"
    if [ "$file" = checked ]; then
        [ "$extra" = 0 ] || fail "checked: $extra duplicates with the duplicate check on"
    else
        [ "$extra" -le "$killed" ] || fail "orders: $extra lines written again after $killed kills"
        # At most one message's line again per kill: no code more than twice... per kill.
        [ "$(cut -d, -f1 "$out" | sort | uniq -c | awk '$1 > 2' | wc -l)" = 0 ] ||
            fail "orders: a message written three times"
    fi
done
echo ok
