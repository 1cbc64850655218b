#!/usr/bin/env bash
# The real txengine killed (SIGKILL) at 10 random moments while it writes its lines in
# batches (no record, nothing disposed of, so nothing makes it write each message's lines at
# once): every output file holds only whole lines, and a run to the end after the kills writes
# every message's line.
set -u
data="$TALLIX_TEST_DATA/e2e"
. "$(dirname "$0")/../support/e2e_lib.sh"
work=$(mktemp -d)
engine_pid=
trap '[ -n "$engine_pid" ] && kill -KILL "$engine_pid" 2>/dev/null; rm -rf "$work"' EXIT
messages=20000
kills=10

dir="$work/kill"
mkdir -p "$dir/home/templates" "$dir/config/Vantroy Technologies" "$dir/out"
cp "$data/Orders.txf" "$dir/home/templates/"
# Lines of some hundred bytes, so batches cross pages of the file.
python3 - "$work/big.mbox" "$messages" <<'PY'
import sys
with open(sys.argv[1], "w") as f:
    for i in range(int(sys.argv[2])):
        f.write("From ann@example.org Mon Mar  2 09:00:00 2026\nFrom: Ann <ann@example.org>\n"
                "Subject: order %d\n\nCode: C-%d-%s\n\n" % (i, i, "x" * (i % 300)))
PY
printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=FILE_OTHER\r\nLocalFileName=%s\r\nDeleteFlag=0\r\n' \
    "$dir/home/templates" "$work/big.mbox" >"$dir/config/Vantroy Technologies/Tallix.ini"

out="$dir/out/orders.csv"
whole_lines() {
    [ ! -s "$out" ] && return 0
    [ "$(tail -c 2 "$out" | od -An -c | tr -d ' ')" = '\r\n' ] || fail "a cut line at the end after kill $1"
    bad=$(grep -cav '^C-[0-9]*-x*,"Ann",ann@example.org,' "$out")
    [ "$bad" = 0 ] || fail "$bad lines are not whole lines after kill $1"
}
size() { if [ -e "$out" ]; then stat -c %s "$out"; else echo 0; fi; }
killed=0
for i in $(seq "$kills"); do
    (cd "$dir/out" && exec env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
        TALLIX_HOME="$dir/home" XDG_CONFIG_HOME="$dir/config" \
        "$TALLIX_BIN/txengine" /sx </dev/null >"$dir/stdout" 2>"$dir/stderr") &
    engine_pid=$!
    # A random moment once the run has written something more: the file is looked at every
    # 2 ms, and the kill comes 0 to 20 ms after it grew.
    target=$(($(size) + 1))
    for _ in $(seq 5000); do
        [ "$(size)" -ge "$target" ] && break
        kill -0 "$engine_pid" 2>/dev/null || break
        sleep 0.002
    done
    sleep "0.0$((RANDOM % 20))"
    kill -KILL "$engine_pid" 2>/dev/null && killed=$((killed + 1))
    wait "$engine_pid" 2>/dev/null
    engine_pid=
    whole_lines "$i"
done
: >"$out"
run_engine "$dir"
expect_status kill 0
whole_lines "the last run"
[ "$(wc -l <"$out")" = "$messages" ] || fail "$(wc -l <"$out") lines of $messages after the run to the end"
echo "killed $killed times; ok"
