#!/usr/bin/env bash
# The engine end to end over POP3 and IMAP beside the same messages in a mailbox file: N small
# order messages delivered to a private dovecot on 127.0.0.1 (STARTTLS with a test CA) and
# written to a Netscape mailbox, the five benchmark templates, `txengine /sx` once over each
# source. Prints messages/s of each run and the ratios. POP3 runs twice: RETRs pipelined (dovecot
# offers PIPELINING) and one at a time (TALLIX_POP3_PIPELINING=0).
#
#   bash bench/pop3_run.sh [N]     (default 1000; builds a Release tree in build-bench/ unless
#                                   TALLIX_BIN names a directory holding txengine)
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
n=${1:-1000}
if [ -z "${TALLIX_BIN:-}" ]; then
    cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALLIX_BUILD_TESTS=OFF >/dev/null
    cmake --build build-bench --target txengine >/dev/null
    TALLIX_BIN="$root/build-bench/bin"
fi

. "$root/tests/support/dovecot_fixture.sh"
work=$(mktemp -d)
chmod 755 "$work"
trap 'dovecot_stop; rm -rf "$work"' EXIT
dovecot_start "$work/server" || { echo "dovecot did not start (is dovecot-pop3d installed?)" >&2; exit 1; }
dovecot_add_user shop orders

mkdir -p "$work/home/templates" "$work/config/Vantroy Technologies" "$work/out" "$work/msg"
for i in $(seq 1 "$n"); do
    printf 'From: Customer %d <c%d@example.org>\r\nTo: shop@example.com\r\nSubject: Order confirmation %d\r\nDate: Fri, 08 Jan 2021 12:34:56 +0000\r\n\r\nOrder: %d\r\nName: Customer %d\r\nTotal: 12.50\r\nThank you for your order.\r\n' \
        "$i" "$i" "$i" "$i" "$i" >"$work/msg/m"
    dovecot_deliver shop "$work/msg/m"
    { printf 'From - Fri Jan 08 12:34:56 2021\r\n'; cat "$work/msg/m"; printf '\r\n'; } >>"$work/inbox.mbox"
done

# The five templates of the run benchmarks, with every duplicate allowed.
check_duplicates=""
. "$root/bench/five_templates.sh" "$work/home/templates"
printf '[GENERAL]\r\nCount=1\r\n[NAMES]\r\nConfig1=Shop\r\n[Shop]\r\nHostName=127.0.0.1\r\nPort=%s\r\nLoginName=shop\r\nPassword=orders\r\n' \
    "$DOVECOT_PORT" >"$work/home/POP3.CFG"
printf '[GENERAL]\r\nCount=1\r\n[NAMES]\r\nConfig1=Shop\r\n[Shop]\r\nHostName=127.0.0.1\r\nPort=%s\r\nLoginName=shop\r\nPassword=orders\r\n' \
    "$DOVECOT_IMAP_PORT" >"$work/home/IMAP.CFG"

run() {  # run SOURCE [VAR=VALUE]: prints the seconds the run took
    rm -f "$work"/out/*.csv "$work/home/"*.Log
    printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=%s\r\nLocalFileName=%s\r\nDeleteFlag=0\r\n' \
        "$work/home/templates" "$1" "$work/inbox.mbox" >"$work/config/Vantroy Technologies/Tallix.ini"
    local start end
    start=$(date +%s.%N)
    local timer=()
    [ -x /usr/bin/time ] && timer=(/usr/bin/time -f '%U %S' -o "$work/cpu.$1")
    (cd "$work/out" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TALLIX_HOME="$work/home" \
        XDG_CONFIG_HOME="$work/config" TALLIX_CA_FILE="$DOVECOT_CA" ${2:-} "${timer[@]}" "$TALLIX_BIN/txengine" /sx \
        </dev/null >/dev/null 2>&1) || true
    end=$(date +%s.%N)
    local lines
    lines=$(wc -l <"$work/out/Orders.csv" 2>/dev/null || echo 0)
    [ "$lines" = "$n" ] || echo "$1: $lines order lines instead of $n: $(head -3 "$work/home/txError.Log" 2>/dev/null)" >&2
    echo "$end - $start" | bc -l
}
# The first session also has dovecot index the new Maildir; the second is the steady state.
first=$(run POP3)
pop3=$(run POP3)
cp "$work/cpu.POP3" "$work/cpu.POP3-pipelined" 2>/dev/null || true
single=$(run POP3 TALLIX_POP3_PIPELINING=0)
imap=$(run IMAP)
file=$(run NETSCAPE)
printf 'POP3 first session       %6d messages %7.2f s %8.0f messages/s  (dovecot indexes the Maildir)\n' \
    "$n" "$first" "$(echo "$n / $first" | bc -l)"
printf 'POP3 (dovecot, STARTTLS) %6d messages %7.2f s %8.0f messages/s  (RETRs pipelined)\n' "$n" "$pop3" "$(echo "$n / $pop3" | bc -l)"
printf 'POP3 one RETR at a time  %6d messages %7.2f s %8.0f messages/s\n' "$n" "$single" "$(echo "$n / $single" | bc -l)"
printf 'IMAP (dovecot, STARTTLS) %6d messages %7.2f s %8.0f messages/s\n' "$n" "$imap" "$(echo "$n / $imap" | bc -l)"
printf 'mailbox file             %6d messages %7.2f s %8.0f messages/s\n' "$n" "$file" "$(echo "$n / $file" | bc -l)"
printf 'POP3 run takes %.2f times, IMAP run %.2f times as long as the file run\n' \
    "$(echo "$pop3 / $file" | bc -l)" "$(echo "$imap / $file" | bc -l)"
for kind in POP3-pipelined POP3 IMAP NETSCAPE; do
    [ -s "$work/cpu.$kind" ] && read -r user sys <"$work/cpu.$kind" &&
        printf 'txengine CPU time, %-8s user %.2f s, system %.2f s\n' "$kind" "$user" "$sys"
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
