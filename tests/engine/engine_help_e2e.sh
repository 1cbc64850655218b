#!/usr/bin/env bash
# txengine /? without a display prints the help columns and ends with status 0; with the
# offscreen platform it makes the help window (closed here by a timeout that kills it).
set -u
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TALLIX_HOME="$work/home" XDG_CONFIG_HOME="$work/config"
mkdir -p "$TALLIX_HOME/templates"

out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$TALLIX_BIN/txengine" '/?' 2>"$work/err")
status=$?
[ "$status" -eq 0 ] || fail "exit status $status"
grep -q '^/?  *Displays this dialog$' <<<"$out" || fail "help line for /? missing: $out"
grep -q '^/sx  *Runs in silent mode and without a main$' <<<"$out" || fail "help line for /sx missing"
grep -q '^  *ran\.$' <<<"$out" || fail "last description line missing"
[ ! -s "$work/err" ] || fail "unexpected standard error: $(cat "$work/err")"
[ ! -e "$TALLIX_HOME/txSystem.Log" ] || fail "help run wrote the system log"

# The options Linux programs take: --help, -h and -? print the same help; --version prints
# the product name and version; none of them reads settings or writes a log.
for option in --help -h '-?'; do
    got=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$TALLIX_BIN/txengine" "$option" 2>"$work/err" </dev/null)
    status=$?
    [ "$status" -eq 0 ] || fail "$option: exit status $status, $(cat "$work/err")"
    [ "$got" = "$out" ] || fail "$option: not the help of /?: $got"
done
version=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$TALLIX_BIN/txengine" --version 2>"$work/err" </dev/null)
status=$?
[ "$status" -eq 0 ] || fail "--version: exit status $status"
grep -Eq '^txEngine [0-9]+\.[0-9]+\.[0-9]+$' <<<"$version" || fail "--version printed: $version"
[ ! -s "$work/err" ] || fail "--version wrote to standard error: $(cat "$work/err")"
[ ! -e "$TALLIX_HOME/txSystem.Log" ] && [ ! -e "$TALLIX_HOME/txError.Log" ] || fail "an option run wrote a log"

# On a machine where nothing is set up yet, --help and --version still only print: no settings
# file is created and no missing template directory is reported, also when a display is
# there (they answer in the terminal, not in a window). /? reads the settings first.
fresh="$work/fresh"
for option in --help --version; do
    for platform in none offscreen; do
        rm -rf "$fresh"
        mkdir -p "$fresh"
        if [ "$platform" = none ]; then
            got=$(TALLIX_HOME="$fresh/home" XDG_CONFIG_HOME="$fresh/config" \
                env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
                "$TALLIX_BIN/txengine" "$option" 2>"$work/err" </dev/null)
        else
            got=$(TALLIX_HOME="$fresh/home" XDG_CONFIG_HOME="$fresh/config" \
                QT_QPA_PLATFORM=offscreen timeout 3 \
                "$TALLIX_BIN/txengine" "$option" 2>"$work/err" </dev/null)
        fi
        status=$?
        [ "$status" -eq 0 ] || fail "fresh $option ($platform): exit status $status, $(cat "$work/err")"
        [ ! -s "$work/err" ] || fail "fresh $option ($platform): standard error: $(cat "$work/err")"
        if [ "$option" = --help ]; then
            [ "$got" = "$out" ] || fail "fresh --help ($platform): not the help of /?: $got"
        else
            [ "$got" = "$version" ] || fail "fresh --version ($platform) printed: $got"
        fi
        leftover=$(find "$fresh" -mindepth 1 2>/dev/null)
        [ -z "$leftover" ] || fail "fresh $option ($platform) wrote: $leftover"
    done
done
rm -rf "$fresh"
mkdir -p "$fresh"
TALLIX_HOME="$fresh/home" XDG_CONFIG_HOME="$fresh/config" \
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    "$TALLIX_BIN/txengine" '/?' >/dev/null 2>"$work/err" </dev/null
[ -e "$fresh/config/Vantroy Technologies/Tallix.ini" ] || fail "/? no longer reads the settings first"

# No display and no /?: start-up runs, finds no template, logs it and ends with status 1.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$TALLIX_BIN/txengine" /sx </dev/null >/dev/null 2>"$work/err"
status=$?
[ "$status" -eq 1 ] || fail "run without templates: exit status $status"
grep -q 'txengine unable to locate template files.' "$TALLIX_HOME/txError.Log" || fail "missing error log line"
grep -q 'TemplateDir=' "$XDG_CONFIG_HOME/Vantroy Technologies/Tallix.ini" || fail "settings not written"

# A build without windows (the sanitizer build) has no help window to show.
if [ -n "${TALLIX_WITHOUT_WINDOWS:-}" ]; then
    echo "engine help e2e: ok (no windows in this build)"
    exit 0
fi

# With the offscreen platform the help is a window: nothing is printed, and the program
# waits for it to be closed.
QT_QPA_PLATFORM=offscreen timeout 3 "$TALLIX_BIN/txengine" /h >"$work/out" 2>"$work/err"
status=$?
[ "$status" -eq 124 ] || fail "help window did not wait for Close (status $status, $(cat "$work/err"))"
[ ! -s "$work/out" ] || fail "help printed although a window was shown"
echo "engine help e2e: ok"
