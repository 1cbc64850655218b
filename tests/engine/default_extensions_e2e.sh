#!/usr/bin/env bash
# The build puts the shipped extensions.txt into the program directory when none is there, and
# never replaces one that is there (the user's own list).
set -u
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
shipped="$TALLIX_SOURCE/engine/extensions.txt"
copy() { cmake -DSRC="$shipped" -DDEST="$1" -P "$TALLIX_SOURCE/cmake/CopyIfMissing.cmake" || fail "copy script failed"; }

[ -f "$TALLIX_BIN/extensions.txt" ] || fail "no extensions.txt in $TALLIX_BIN"

copy "$work/bin/extensions.txt"
cmp -s "$shipped" "$work/bin/extensions.txt" || fail "missing list not copied"

printf 'EXE\r\n' >"$work/bin/extensions.txt"
copy "$work/bin/extensions.txt"
[ "$(cat "$work/bin/extensions.txt")" = "$(printf 'EXE\r\n')" ] || fail "the user's list was replaced"
echo "default extensions e2e: ok"
