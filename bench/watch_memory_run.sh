#!/usr/bin/env bash
# Memory of watch mode over many runs: `txengine /sx /watch` against a private dovecot on
# 127.0.0.1 (STARTTLS with a test CA), the five benchmark templates. Prints the engine's
# resident memory (VmRSS, and the peak VmHWM) after the given numbers of runs.
#
#   bash bench/watch_memory_run.sh [RUNS] [KIND]   (default 1000 runs, KIND pop3 or imap)
#
#   pop3: one account with 20 messages, polled every 0.02 s (TALLIX_POLL_SECONDS), so each poll
#         is a run; every run reads the 20 messages and passes them over (ProcessOnce), and a
#         new message comes every 50 runs.
#   imap: one account watched with IDLE; a message is delivered after each run, so each run
#         is started by the server's notice; parsed messages are deleted (DeleteFlag 2).
#
# Builds a Release tree in build-bench/ unless TALLIX_BIN names a directory holding txengine.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
runs=${1:-1000}
kind=${2:-pop3}
if [ -z "${TALLIX_BIN:-}" ]; then
    cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALLIX_BUILD_TESTS=OFF >/dev/null
    cmake --build build-bench --target txengine >/dev/null
    TALLIX_BIN="$root/build-bench/bin"
fi

. "$root/tests/support/dovecot_fixture.sh"
work=$(mktemp -d)
chmod 755 "$work"
engine_pid=
trap '[ -n "$engine_pid" ] && kill -KILL "$engine_pid" 2>/dev/null; dovecot_stop; rm -rf "$work"' EXIT
dovecot_start "$work/server" || { echo "dovecot did not start" >&2; exit 1; }
dovecot_add_user shop orders

mkdir -p "$work/home/templates" "$work/config/Vantroy Technologies" "$work/out"
check_duplicates=""
. "$root/bench/five_templates.sh" "$work/home/templates"
seq_no=0
deliver() {
    seq_no=$((seq_no + 1))
    printf 'From: Customer %d <c%d@example.org>\r\nTo: shop@example.com\r\nSubject: Order confirmation %d\r\nDate: Fri, 08 Jan 2021 12:34:56 +0000\r\n\r\nOrder: %d\r\nName: Customer %d\r\nTotal: 12.50\r\nThank you for your order.\r\n' \
        "$seq_no" "$seq_no" "$seq_no" "$seq_no" "$seq_no" >"$work/m"
    dovecot_deliver shop "$work/m"
}
case $kind in
pop3) port=$DOVECOT_PORT source=POP3 file=POP3.CFG delete=0 ;;
imap) port=$DOVECOT_IMAP_PORT source=IMAP file=IMAP.CFG delete=2 ;;
*) echo "KIND is pop3 or imap" >&2; exit 2 ;;
esac
printf '[GENERAL]\r\nCount=1\r\n[NAMES]\r\nConfig1=Shop\r\n[Shop]\r\nHostName=127.0.0.1\r\nPort=%s\r\nLoginName=shop\r\nPassword=orders\r\n' \
    "$port" >"$work/home/$file"
printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=%s\r\nDeleteFlag=%s\r\n' \
    "$work/home/templates" "$source" "$delete" >"$work/config/Vantroy Technologies/Tallix.ini"
if [ "$kind" = pop3 ]; then for _ in $(seq 1 20); do deliver; done; else deliver; fi

(cd "$work/out" && exec env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TALLIX_HOME="$work/home" \
    XDG_CONFIG_HOME="$work/config" TALLIX_CA_FILE="$DOVECOT_CA" TALLIX_POLL_SECONDS=0.02 \
    "$TALLIX_BIN/txengine" /sx /watch </dev/null >/dev/null 2>"$work/stderr") &
engine_pid=$!
done_runs() { local n; n=$(grep -c 'Connected to: Shop' "$work/home/txSystem.Log" 2>/dev/null); echo "${n:-0}"; }
memory() { awk '/^VmRSS/ {r=$2} /^VmHWM/ {h=$2} END {printf "%6d KB resident, peak %6d KB", r, h}' "/proc/$engine_pid/status"; }

start=$(date +%s)
marks=" 1 10 100 250 500 750 $runs "
last=0
while :; do
    now=$(done_runs)
    kill -0 "$engine_pid" 2>/dev/null || { echo "the engine ended: $(tail -3 "$work/stderr")" >&2; exit 1; }
    if [ "$now" -gt "$last" ]; then
        for r in $(seq $((last + 1)) "$now"); do
            case $marks in *" $r "*) printf 'after run %5d: %s\n' "$r" "$(memory)" ;; esac
        done
        # A new message: after each IMAP run, every 50th POP3 run.
        if [ "$kind" = imap ] || [ $((now / 50)) -gt $((last / 50)) ]; then deliver; fi
        last=$now
    fi
    [ "$now" -ge "$runs" ] && break
    sleep 0.01
done
took=$(($(date +%s) - start))
kill -TERM "$engine_pid"
wait "$engine_pid" || true
engine_pid=
lines=$(cat "$work"/out/*.csv 2>/dev/null | wc -l)
echo "$runs $kind runs in $took s; $seq_no messages delivered, $lines lines written; errors: $(cat "$work/home/txError.Log" 2>/dev/null | wc -l) lines"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
