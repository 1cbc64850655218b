#!/usr/bin/env bash
# The real txengine runs the example OrderSizes template over the sample mailbox with the
# example scripts, once in JavaScript and once in Lua: both fill the "Size" variable before the
# line is written and note the large orders in a file of their own. A language the host does
# not know shows its box on standard error (no window) and the run goes on without scripts.
set -u
. "$(dirname "$0")/../support/e2e_lib.sh"
examples="$TALLIX_SOURCE/examples"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# run_case NAME LANGUAGE SCRIPT-SUBDIRECTORY
run_case() {
    local name=$1 language=$2 scripts=$3
    local dir="$work/$name"
    mkdir -p "$dir/home/templates" "$dir/home/scripts" "$dir/config/Vantroy Technologies" "$dir/out"
    cp "$examples/OrderSizes.txf" "$dir/home/templates/"
    [ -z "$scripts" ] || cp "$examples/scripts/$scripts"/* "$dir/home/scripts/"
    printf '[Settings]\r\nTemplateDir=%s\r\nScriptDir=%s\r\nUseScripts=True\r\nScriptEngine=%s\r\nUseSource=NETSCAPE\r\nLocalFileName=%s\r\nDeleteFlag=0\r\n' \
        "$dir/home/templates" "$dir/home/scripts" "$language" "$examples/sample-inbox.mbox" \
        >"$dir/config/Vantroy Technologies/Tallix.ini"
    run_engine "$dir"
}

sizes='4700,"Ann Smith",12.50,small\r\n4701,"Bob Jones",39.00,small\r\n4702,"Carla Diaz",79.50,small\r\n4703,"Dev Patel",33.50,small\r\n4704,"Eva Novak",81.00,small\r\n4705,"Frank Moore",142.50,large\r\n4706,"Ann Smith",54.50,small\r\n4707,"Bob Jones",123.00,large\r\n4708,"Carla Diaz",205.50,large\r\n4709,"Dev Patel",75.50,small\r\n'
large='Order 4705 from Frank Moore: 142.50 EUR\r\nOrder 4707 from Bob Jones: 123.00 EUR\r\nOrder 4708 from Carla Diaz: 205.50 EUR\r\n'

for case in "javascript JavaScript javascript" "jscript JSCRIPT javascript" "lua Lua lua"; do
    set -- $case
    run_case "$1" "$2" "$3"
    [ "$(cat "$work/$1/status")" = 0 ] || fail "$1: exit status $(cat "$work/$1/status"): $(cat "$work/$1/stderr")"
    expect_file "$work/$1/out/order-sizes.csv" "$sizes"
    expect_file "$work/$1/out/large-orders.txt" "$large"
    [ ! -s "$work/$1/home/txError.Log" ] || fail "$1: errors logged: $(cat "$work/$1/home/txError.Log")"
done

# "VBScript" is rejected: the box goes to standard error once, the lines are written without
# the script's "Size", and nothing is logged.
run_case vbscript VBScript javascript
[ "$(cat "$work/vbscript/status")" = 0 ] || fail "vbscript: exit status $(cat "$work/vbscript/status")"
[ "$(grep -c 'Scripting engine for the defined script type could not be started' "$work/vbscript/stderr")" = 1 ] ||
    fail "vbscript: box not shown once: $(cat "$work/vbscript/stderr")"
grep -q 'Check the Script name in the options dialog.' "$work/vbscript/stderr" || fail "vbscript: second line of the box"
nosizes=${sizes//',small\r\n'/',\r\n'}
expect_file "$work/vbscript/out/order-sizes.csv" "${nosizes//',large\r\n'/',\r\n'}"
[ ! -e "$work/vbscript/out/large-orders.txt" ] || fail "vbscript: scripts ran"

# A script directory without files: every matching message reports the missing procedure.
run_case noscripts Lua ""
[ "$(grep -c 'Sub DoScripts: ' "$work/noscripts/home/txError.Log")" = 10 ] || fail "noscripts: $(cat "$work/noscripts/home/txError.Log")"
# Altered precompiled Lua code (which would crash the interpreter) is refused, in a run and in a
# trial: each order fails with the refusal, no line is written, and the engine ends normally.
run_case bytecode Lua lua
cat >"$work/bytecode/home/scripts/zz_bytecode.lua" <<'LUA'
function ClassifyOrder()
  local code = string.dump(function() return 'abcdefgh' end, true)
  local at = code:find('\3\0\0\0', 1, true)
  assert(load(code:sub(1, at - 1) .. '\3\0\255\255' .. code:sub(at + 4)))()
end
LUA
rm -f "$work/bytecode/out/"* "$work/bytecode/home/txError.Log"
run_engine "$work/bytecode"
expect_status bytecode 0
[ ! -s "$work/bytecode/out/order-sizes.csv" ] || fail "bytecode: lines written: $(cat "$work/bytecode/out/order-sizes.csv")"
[ "$(grep -c "attempt to load a binary chunk (mode is 't')" "$work/bytecode/home/txError.Log")" = 10 ] ||
    fail "bytecode: $(cat "$work/bytecode/home/txError.Log")"
(cd "$work/bytecode/out" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    TALLIX_HOME="$work/bytecode/home" XDG_CONFIG_HOME="$work/bytecode/config" \
    timeout 120 "$TALLIX_BIN/txengine" /test OrderSizes </dev/null >"$work/bytecode/trial" 2>&1)
status=$?
[ "$status" = 0 ] || fail "bytecode /test: exit status $status: $(tail -5 "$work/bytecode/trial")"
[ "$(grep -c "attempt to load a binary chunk (mode is 't')" "$work/bytecode/trial")" = 10 ] ||
    fail "bytecode /test: $(cat "$work/bytecode/trial")"
grep -q '^Summary: 30 messages, 10 matched, 0 lines, 0 duplicates, 10 failed' "$work/bytecode/trial" ||
    fail "bytecode /test summary: $(tail -1 "$work/bytecode/trial")"
echo "scripts e2e: ok"
