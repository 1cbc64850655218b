#!/usr/bin/env bash
# The engine's speed on the reference workload: a generated Netscape mailbox (two in five plain
# order mails, one in five HTML orders, one in five with a base64 CSV attachment, one in five
# unrelated; without attachments half plain orders and a quarter each HTML and unrelated) and
# five templates, run by `txengine /sx`. Every run prints messages, MB, seconds, messages/s, MB/s,
# peak resident memory and how much of it lies beyond the mailbox's size, then the engine's
# "Parsed:" log line and the first logged errors. bench/fast_route.py, a plain Python program
# doing the same work, runs on the same mailbox for comparison; its output files are compared
# line by line with the engine's.
#
#   bash bench/run_speed.sh [N]          (default 100000 messages)
#
# Environment:
#   RUNS="attach noattach flat window"   which runs to make (default: these four)
#     attach    the workload with attachments, N messages, plus the Python route
#     noattach  the workload without attachments, N messages, plus the Python route
#     flat      per-message cost at FLAT_SIZES messages (without attachments)
#     window    WINDOW_N plain-mix messages with the engine's window (offscreen, and under
#               Xvfb when xvfb-run is installed) against the same run with /sx
#     instructions  the workload with attachments, N messages, under callgrind: the
#               instructions the engine executed (every thread), a figure the machine's load
#               does not move; with COMPARE_ENGINE also that engine on the same mailbox, the
#               change in per cent, and whether the two runs wrote byte-identical files;
#               with MIX=noattach the workload without attachments, with MIX=five the
#               workload of bench/mailbox_run.sh instead (its mixed mailbox and the five
#               templates of bench/five_templates.sh)
#   ENGINE=path/txengine                 the engine to run (default: the Release build below;
#                                        the generator is then taken from its build tree)
#   COMPARE_ENGINE=path/txengine         a second engine for "instructions" (say, one built
#                                        from the tree before a change)
#   REPEAT=1                             turns of the attach and noattach runs; with more
#                                        than one, the engine and the Python route take turns
#                                        and the medians are printed, with the engine's speed
#                                        as a share of the Python route's (the share moves far
#                                        less than either figure when the machine's speed does)
#   FLAT_SIZES="1000 10000 100000 1000000"  WINDOW_N=10000  WINDOW_REPEAT=5 (turns of the window runs)
#   PYTHON_ROUTE=0                       skip the Python route
#   SKIP_BUILD=1                         use build-bench/ as it is
#   KEEP=1                               keep the work directory (printed) for a look
#   TIMEOUT=900                          seconds before a run that hangs (say, on a message box) is killed
#
# Build: a Release tree in build-bench/ with frame pointers, so `perf record -g` works on it.
# To profile, keep the work directory (its settings name the last mailbox run) and run from it:
#   KEEP=1 RUNS=noattach bash bench/run_speed.sh     (prints: work directory: W)
#   cd W/out && TALLIX_HOME=W/home XDG_CONFIG_HOME=W/config perf record -g ../../bin/txengine /sx
# and sum the samples by phase, or look below one function:
#   perf script | python3 bench/perf_sum.py phases;   perf script | python3 bench/perf_sum.py under NAME
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
n=${1:-100000}
runs=${RUNS:-attach noattach flat window}
flat_sizes=${FLAT_SIZES:-1000 10000 100000 1000000}
window_n=${WINDOW_N:-10000}
window_repeat=${WINDOW_REPEAT:-5}
repeat=${REPEAT:-1}
python_route=${PYTHON_ROUTE:-1}
limit=${TIMEOUT:-900}

if [ "${SKIP_BUILD:-0}" != 1 ]; then
    cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALLIX_BUILD_TESTS=OFF \
        -DTALLIX_BUILD_BENCH=ON -DCMAKE_CXX_FLAGS=-fno-omit-frame-pointer >/dev/null
    nice cmake --build build-bench --target txengine mailbox_gen >/dev/null
fi
engine=${ENGINE:-$root/build-bench/bin/txengine}
# The interpreter itself, not a version manager's shim script that would add its own start-up.
python=$(python3 -c 'import sys; print(sys.executable)')
gen="$root/build-bench/bench/mailbox_gen"
[ -z "${ENGINE:-}" ] || gen="$(dirname "$ENGINE")/../bench/mailbox_gen"

# The work directory lives in the build tree, away from anything that tidies up /tmp.
mkdir -p "$root/build-bench"
work=$(mktemp -d "$root/build-bench/run-speed.XXXXXX")
if [ "${KEEP:-0}" = 1 ]; then echo "work directory: $work"; else trap 'rm -rf "$work"' EXIT; fi
mkdir -p "$work/home/templates" "$work/config/Vantroy Technologies"
mkdir -m 700 "$work/runtime"

calc() { awk "BEGIN { printf \"%.${2:-2}f\", $1 }"; }

# template NAME FILTER-FIELD FIND ALLOW-DUPLICATES VAR... OUTPUT-LINE  (output: $work/out/NAME.csv)
template() {
    local name=$1 field=$2 find=$3 allow=$4; shift 4
    local out=${!#} i=1
    {
        printf '[General]\r\nActive=True\r\nNum_Variables=%d\r\nLast_Ran=Never\r\n' $(($# - 1))
        printf '[Filter]\r\nCommand=%s\r\nFind_String=%s\r\n[Variables]\r\n' "$field" "$find"
        while [ $# -gt 1 ]; do printf 'Var%d=%s\r\n' $i "$1"; i=$((i + 1)); shift; done
        printf '[Output]\r\nAllowDuplicate=%s\r\nFile=%s\r\nDelimiter=COMMA\r\nOutput_Count=1\r\nOutput1=%s\r\n' \
            "$allow" "$work/out/$name.csv" "$out"
        printf '[Scripts]\r\nrun=\r\n'
    } >"$work/home/templates/$name.txf"
}
# write_templates: the five templates, written anew (a run stamps its "Last_Ran" into them,
# which changes what the next run reads).
write_templates() {
    # Variable lines: name;field;start;stop;UseQuotes;RemoveLF;MatchCase;MatchWholeString;StartOfLineOnly.
    # Start strings are found without regard to case, the costly path.
    template Orders MSG_SUBJECT "Order" False \
        "OrderNo;MSG_TEXT;Order number:;{End of Line};0;0;0;0;0" \
        "Customer;MSG_TEXT;Customer:;{End of Line};0;0;0;0;0" \
        "Total;MSG_TEXT;Total:;{End of Line};0;0;0;0;0" \
        "Sender;SENDER_NAME;{Beginning of Field};{End of Field};0;0;0;0;0" \
        "Sent;MSG_SENT_DATE;{Beginning of Field};{End of Field};0;0;0;0;0" \
        "OrderNo,Customer,Total,Sender,Sent"
    template Quantities MSG_TEXT "Quantity:" False \
        "OrderNo;MSG_TEXT;Order number:;{End of Line};0;0;0;0;0" \
        "Quantity;MSG_TEXT;Quantity:;{End of Line};0;0;0;0;0" \
        "OrderNo,Quantity"
    template Sheets ATTACHMENT "sku" True \
        "Header;ATTACHMENT;{Beginning of Field};{End of Line};0;0;0;0;0" \
        "OrderNo;MSG_TEXT;Order number:;{End of Line};0;0;0;0;0" \
        "Header,OrderNo"
    template AllMail "<NONE>" "" False \
        "Subject;MSG_SUBJECT;{Beginning of Field};{End of Field};0;0;0;0;0" \
        "Address;SENDER_ADDRESS;{Beginning of Field};{End of Field};0;0;0;0;0" \
        "Received;MSG_RECEIVE_DATE;{Beginning of Field};{End of Field};0;0;0;0;0" \
        "Subject,Address,Received"
    template Lunch MSG_SUBJECT "Lunch" True \
        "FirstLine;MSG_TEXT;{Beginning of Field};{End of Line};0;0;0;0;0" \
        "FirstLine"
}
write_templates
outputs="Orders Quantities Sheets AllMail Lunch"

# mailbox COUNT MIX -> path of the generated mailbox (MIX: attach or noattach), made once
mailbox() {
    local path="$work/inbox-$1-$2.mbox"
    if [ ! -f "$path" ]; then
        if [ "$2" = attach ]; then "$gen" "$1" "$path" --reference >/dev/null
        else "$gen" "$1" "$path" --reference --no-attachments >/dev/null; fi
    fi
    echo "$path"
}

# engine_run LABEL MAILBOX MODE  (MODE: sx, offscreen, xvfb); sets $took (seconds)
engine_run() {
    local label=$1 mbox=$2 mode=$3 count bytes start end rss="" status=0
    if [ ! -d "$work/home/templates" ]; then
        echo "the work directory $work has gone (removed by another program?)" >&2
        exit 1
    fi
    rm -rf "$work/out" "$work/home/"*.Log
    mkdir -p "$work/out"
    printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=NETSCAPE\r\nLocalFileName=%s\r\nDeleteFlag=0\r\n' \
        "$work/home/templates" "$mbox" >"$work/config/Vantroy Technologies/Tallix.ini"
    count=$(grep -c '^From - ' "$mbox" || true)
    bytes=$(stat -c %s "$mbox")
    local -a cmd=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TALLIX_HOME="$work/home"
        XDG_CONFIG_HOME="$work/config")
    case $mode in
        sx) cmd+=(timeout "$limit") ;;
        offscreen) cmd+=(QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime" timeout "$limit") ;;
        xvfb) cmd+=(XDG_RUNTIME_DIR="$work/runtime" timeout "$limit" xvfb-run -a) ;;
    esac
    # /usr/bin/time gives the engine's own wall-clock time (under Xvfb without the server's
    # start) and its peak resident memory.
    [ -x /usr/bin/time ] && cmd+=(/usr/bin/time -f '%e %M %U %S' -o "$work/rss")
    cmd+=("$engine")
    [ "$mode" = sx ] && cmd+=(/sx)
    rm -f "$work/rss"
    start=$(date +%s.%N)
    (cd "$work/out" && "${cmd[@]}" </dev/null >"$work/engine.out" 2>&1) || status=$?
    end=$(date +%s.%N)
    took=$(calc "$end - $start" 3)
    local cpu=""
    cpu_took=""
    if [ -s "$work/rss" ]; then
        local -a t
        read -r -a t < <(tail -n 1 "$work/rss")
        if [ "${#t[@]}" = 4 ]; then
            took=${t[0]} rss=${t[1]} cpu=$(calc "${t[2]} + ${t[3]}" 2)
            cpu_took=$cpu
        fi
    fi
    printf '%-22s %7d messages %7.1f MB %8.2f s %9.0f messages/s %7.1f MB/s' "$label" "$count" \
        "$(calc "$bytes / 1e6" 1)" "$took" "$(calc "$count / $took" 0)" "$(calc "$bytes / 1e6 / $took" 1)"
    if [[ $rss =~ ^[0-9]+$ ]]; then
        printf '  peak RSS %s MB (%s MB beyond the mailbox)' "$(calc "$rss * 1024 / 1e6" 0)" \
            "$(calc "($rss * 1024 - $bytes) / 1e6" 0)"
    fi
    echo
    # CPU seconds (user + system) say less about other work on the machine than the wall clock.
    [ -z "$cpu" ] || printf '    CPU %s s (%.1f MB per CPU second)\n' "$cpu" "$(calc "$bytes / 1e6 / ($cpu + 0.001)" 1)"
    ran_ok=$([ "$status" = 0 ] && echo 1 || echo 0)
    [ "$status" = 0 ] || echo "    exit status $status$([ "$status" = 124 ] && echo " (killed after ${limit} s)")"
    grep -ah 'Parsed:' "$work/home/txSystem.Log" 2>/dev/null | tail -n 1 | sed 's/\r$//;s/^/    /' || true
    if [ -s "$work/home/txError.Log" ]; then
        echo "    errors logged ($(wc -l <"$work/home/txError.Log") lines), the first:"
        head -n 5 "$work/home/txError.Log" | sed 's/\r$//;s/^/      /'
    fi
    if [ -s "$work/engine.out" ] && [ "$mode" != sx ]; then
        grep -av '^$' "$work/engine.out" | head -n 3 | sed 's/^/    engine: /'
    fi
}

# python_route MAILBOX ENGINE-SECONDS: the Python yardstick on the same mailbox; compares its
# output files with the engine's (left in $work/out by the engine run just before)
python_route() {
    local mbox=$1 engine_took=$2 bytes start end seconds differ=0 total=0 d f
    [ "$python_route" = 1 ] || return 0
    bytes=$(stat -c %s "$mbox")
    rm -rf "$work/py"
    mkdir -p "$work/py"
    local -a cmd=("$python" "$root/bench/fast_route.py" "$mbox" "$work/py")
    [ -x /usr/bin/time ] && cmd=(/usr/bin/time -f '%e %M %U %S' -o "$work/py-rss" "${cmd[@]}")
    rm -f "$work/py-rss"
    start=$(date +%s.%N)
    "${cmd[@]}"
    end=$(date +%s.%N)
    seconds=$(calc "$end - $start" 3)
    local rss="" cpu="" t
    if [ -s "$work/py-rss" ]; then
        read -r -a t < <(tail -n 1 "$work/py-rss")
        if [ "${#t[@]}" = 4 ]; then
            seconds=${t[0]} rss=${t[1]} cpu=$(calc "${t[2]} + ${t[3]}" 2)
        fi
    fi
    py_took=$seconds
    printf '%-22s %25s %8.2f s %25.1f MB/s' "  Python fast route" "" "$seconds" "$(calc "$bytes / 1e6 / $seconds" 1)"
    [ -z "$rss" ] || printf '  peak RSS %s MB' "$(calc "$rss * 1024 / 1e6" 0)"
    [ -z "$cpu" ] || printf ', CPU %s s (%.1f MB per CPU second)' "$cpu" "$(calc "$bytes / 1e6 / ($cpu + 0.001)" 1)"
    printf '\n    the engine: %.1f MB/s, %.2f× the Python route'"'"'s speed\n' \
        "$(calc "$bytes / 1e6 / $engine_took" 1)" "$(calc "$seconds / $engine_took" 2)"
    for f in $outputs; do
        [ -f "$work/out/$f.csv" ] || : >"$work/out/$f.csv"
        total=$((total + $(wc -l <"$work/py/$f.csv")))
        d=$(diff "$work/out/$f.csv" "$work/py/$f.csv" | grep -c '^[<>]' || true)
        if [ "$d" != 0 ]; then
            echo "    $f.csv differs: $d lines in one file and not at that place in the other (engine $(wc -l <"$work/out/$f.csv") lines, Python $(wc -l <"$work/py/$f.csv"))"
            { diff "$work/out/$f.csv" "$work/py/$f.csv" || true; } | grep '^[<>]' | head -n 2 | sed 's/\r$//;s/^/      /' || true
            differ=$((differ + d))
        fi
    done
    [ "$differ" != 0 ] || echo "    output files identical to the engine's ($total lines in five files)"
}

# callgrind_run ENGINE MAILBOX OUTDIR: the engine under callgrind; prints the instructions it
# executed and leaves its output files in OUTDIR
callgrind_run() {
    local eng=$1 mbox=$2 keep=$3
    if [ "${MIX:-}" = five ]; then
        rm -f "$work/home/templates/"*.txf
        (cd "$root" && . bench/five_templates.sh "$work/home/templates")
    else
        write_templates
    fi
    rm -rf "$work/out" "$work/home/"*.Log "$keep"
    mkdir -p "$work/out"
    printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=NETSCAPE\r\nLocalFileName=%s\r\nDeleteFlag=0\r\n' \
        "$work/home/templates" "$mbox" >"$work/config/Vantroy Technologies/Tallix.ini"
    (cd "$work/out" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TALLIX_HOME="$work/home" \
        XDG_CONFIG_HOME="$work/config" valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" \
        "$eng" /sx </dev/null >/dev/null 2>"$work/callgrind.err") || true
    [ ! -s "$work/home/txError.Log" ] || echo "    errors logged: $(head -n 1 "$work/home/txError.Log")" >&2
    mv "$work/out" "$keep"
    sed -n 's/.*Collected : *\([0-9]*\).*/\1/p' "$work/callgrind.err" | tail -n 1
}

# instructions: the engine (and COMPARE_ENGINE) under callgrind on the N-message mailbox with
# attachments
instructions() {
    command -v valgrind >/dev/null || { echo "instructions: valgrind is not installed" >&2; return 0; }
    local mbox ir other f same=1
    if [ "${MIX:-}" = five ]; then
        mbox="$work/inbox-$n-five.mbox"
        [ -f "$mbox" ] || "$gen" "$n" "$mbox" >/dev/null
        outputs="Orders Contacts Senders Attachments Dates"
    else
        mbox=$(mailbox "$n" "${MIX:-attach}")
    fi
    ir=$(callgrind_run "$engine" "$mbox" "$work/out-engine")
    printf 'instructions, %d messages (%s): %s  %.1f M\n' "$n" "$(basename "$mbox")" "$engine" "$(calc "$ir / 1e6" 1)"
    [ -n "${COMPARE_ENGINE:-}" ] || return 0
    other=$(callgrind_run "$COMPARE_ENGINE" "$mbox" "$work/out-compare")
    printf '                                        %s  %.1f M\n' "$COMPARE_ENGINE" "$(calc "$other / 1e6" 1)"
    printf '  the first against the second: %+.1f%%\n' "$(calc "($ir - $other) * 100 / $other" 1)"
    for f in $outputs; do
        if ! cmp -s "$work/out-engine/$f.csv" "$work/out-compare/$f.csv"; then
            same=0
            echo "  $f.csv differs ($(wc -l <"$work/out-engine/$f.csv") and $(wc -l <"$work/out-compare/$f.csv") lines); the first difference:"
            { diff "$work/out-engine/$f.csv" "$work/out-compare/$f.csv" || true; } | head -n 4 | sed 's/\r$//;s/^/    /'
        fi
    done
    [ "$same" = 0 ] || echo "  the output files of both are byte-identical ($(cat "$work"/out-engine/*.csv | wc -l) lines in five files)"
}

median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)] }'; }

# workload LABEL MIX: the engine on the N-message mailbox of MIX, then the Python route on it,
# $repeat times in turns; the first turn is shown whole, then the medians when there are more.
workload() {
    local label=$1 mbox walls="" cpus="" pys="" shares="" bytes turn
    mbox=$(mailbox "$n" "$2")
    bytes=$(stat -c %s "$mbox")
    for turn in $(seq "$repeat"); do
        py_took=
        engine_run "$label" "$mbox" sx >"$work/turn.txt"
        python_route "$mbox" "$took" >>"$work/turn.txt"
        [ "$turn" != 1 ] || cat "$work/turn.txt"
        walls+="$took "
        cpus+="${cpu_took:-} "
        if [ -n "$py_took" ]; then
            pys+="$py_took "
            shares+="$(calc "$py_took / $took" 3) "
        fi
    done
    [ "$repeat" -gt 1 ] || return 0
    local wall cpu py share
    wall=$(echo "$walls" | median) cpu=$(echo "$cpus" | median)
    py=$(echo "$pys" | median) share=$(echo "$shares" | median)
    printf '  medians of %d turns: the engine %.1f MB/s (turns: %s)' "$repeat" \
        "$(calc "$bytes / 1e6 / $wall" 1)" "${walls% }"
    [ -z "$cpu" ] || printf ', %.1f MB per CPU second' "$(calc "$bytes / 1e6 / ($cpu + 0.001)" 1)"
    echo
    [ -z "$py" ] || printf '  the Python route %.1f MB/s; the engine at %.2f× its speed\n' \
        "$(calc "$bytes / 1e6 / $py" 1)" "$share"
}

# Other work on the machine slows every figure; the load average says how busy it was.
load() { cut -d' ' -f1-3 /proc/loadavg; }
echo "tree $(git -C "$root" rev-parse --short HEAD 2>/dev/null), $(nproc) cores, load average $(load), $(date -u '+%Y-%m-%d %H:%M UTC')"
for r in $runs; do
    case $r in
        attach) workload "with attachments" attach ;;
        noattach) workload "without attachments" noattach ;;
        flat)
            # A one-message run gives the start-up and shut-down cost, which is taken out so
            # that small runs are not charged with it.
            base=
            for _ in 1 2 3; do
                engine_run "one message" "$(mailbox 1 noattach)" sx >/dev/null
                [ -n "$base" ] && [ "$(calc "$took < $base" 0)" = 0 ] || base=$took
            done
            echo "flatness (without attachments; a one-message run takes $base s):"
            for size in $flat_sizes; do
                mbox=$(mailbox "$size" noattach)
                engine_run "  $size" "$mbox" sx >"$work/flat.txt"
                printf '  %7d messages %8.2f s %8.1f µs per message (%.1f µs beyond the one-message run)' \
                    "$size" "$took" "$(calc "$took * 1e6 / $size" 1)" "$(calc "($took - $base) * 1e6 / ($size - 1)" 1)"
                [ -z "$cpu_took" ] || printf ', CPU %.1f µs per message' "$(calc "$cpu_took * 1e6 / $size" 1)"
                grep -ao 'peak RSS [0-9]* MB ([-0-9]* MB beyond the mailbox)' "$work/flat.txt" | sed 's/^/, /' | tr -d '\n' || true
                echo
                grep -a 'errors logged\|exit status' "$work/flat.txt" | sed 's/^/  /' || true
            done
            ;;
        window)
            # One run each is too noisy against a run of about half a second: the modes take
            # turns WINDOW_REPEAT times and the medians are compared.
            mbox=$(mailbox "$window_n" noattach)
            modes="sx offscreen"
            if command -v xvfb-run >/dev/null; then modes+=" xvfb"; fi
            declare -A label=([sx]="/sx, no window" [offscreen]="window, offscreen" [xvfb]="window, Xvfb")
            declare -A times=() cpus=()
            echo "the engine's window ($window_n messages without attachments, medians of $window_repeat turns):"
            for round in $(seq "$window_repeat"); do
                for mode in $modes; do
                    engine_run "  ${label[$mode]}" "$mbox" "$mode" >"$work/window-$mode.txt"
                    # The first turn's lines are shown whole (log line, errors); later ones only count.
                    [ "$round" != 1 ] || cat "$work/window-$mode.txt"
                    if [ "$ran_ok" != 1 ]; then
                        [ "$round" = 1 ] || cat "$work/window-$mode.txt"
                        continue
                    fi
                    times[$mode]+="$took "
                    cpus[$mode]+="${cpu_took:-} "
                done
            done
            sx_wall=$(echo "${times[sx]:-}" | median)
            sx_cpu=$(echo "${cpus[sx]:-}" | median)
            for mode in $modes; do
                wall=$(echo "${times[$mode]:-}" | median)
                cpu=$(echo "${cpus[$mode]:-}" | median)
                [ -n "$wall" ] || continue
                printf '  %-18s median %.2f s (turns: %s)' "${label[$mode]}" "$wall" "${times[$mode]% }"
                [ -z "$cpu" ] || printf ', CPU median %.2f s' "$cpu"
                echo
                if [ "$mode" != sx ] && [ -n "$sx_wall" ]; then
                    # Over 100,000 messages and more the window's start-up hardly counts.
                    goal=1.25; [ "$window_n" -lt 100000 ] || goal=1.1
                    printf '    with the window (%s) / without (/sx): %.2f× (goal ≤ %s×)' "$mode" "$(calc "$wall / $sx_wall" 2)" "$goal"
                    if [ -n "$cpu" ] && [ -n "$sx_cpu" ]; then printf ', CPU %.2f×' "$(calc "$cpu / ($sx_cpu + 0.001)" 2)"; fi
                    echo
                fi
            done
            ;;
        instructions) instructions ;;
        *) echo "unknown run: $r (use attach, noattach, flat, window, instructions)" >&2; exit 2 ;;
    esac
done
echo "load average at the end: $(load)"
