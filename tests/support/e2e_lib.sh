# Sourced by the end-to-end scripts. Each case runs in a directory of its own under $work:
# home/ (the program directory, with templates/), config/ (the settings file) and out/ (where
# the engine runs, so relative output files land there).

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# run_engine DIR [VAR=VALUE ...]: txengine /sx in DIR/out with DIR's program and settings
# directories, without a window (a box would wait for ever), given at most 120 s; its output
# goes to DIR/stdout and DIR/stderr and its exit status to DIR/status.
run_engine() {
    local dir=$1
    shift
    (cd "$dir/out" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
        TALLIX_HOME="$dir/home" XDG_CONFIG_HOME="$dir/config" "$@" \
        timeout 120 "$TALLIX_BIN/txengine" /sx </dev/null >"$dir/stdout" 2>"$dir/stderr")
    echo $? >"$dir/status"
}

# expect_file PATH EXPECTED-BYTES (a printf format): the file holds exactly those bytes.
expect_file() {
    local want
    want=$(printf "$2" | od -c)
    [ "$(od -c <"$1" 2>/dev/null)" = "$want" ] || fail "$1 differs: $(cat -A "$1" 2>&1)"
}

# expect_status CASE STATUS: the engine of case $work/CASE ended with STATUS.
expect_status() {
    [ "$(cat "$work/$1/status")" = "$2" ] ||
        fail "$1: exit status $(cat "$work/$1/status"), $(cat "$work/$1/stderr")"
}
