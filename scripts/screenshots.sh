#!/usr/bin/env bash
# Retakes the screenshots in docs/ under a virtual X display (Xvfb): the main window of tallix
# with the example templates, after one engine run over the sample mailbox so that "Last Time
# Used" and "Last Match" are filled, and two pages of the template wizard. Uses a program
# directory and settings of its own (never your own settings) under a neutral home,
# /home/ann/tallix (TALLIX_SCREENSHOT_DIR names another), so no path of the machine shows in the
# pictures; the sample mailbox and the example scripts are copied there. Run from the
# repository root:
#     bash scripts/screenshots.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bash scripts/install-deps.sh screenshots
if [ ! -x "$build/bin/tallix" ] || [ ! -x "$build/bin/screen_grab" ] || [ ! -x "$build/bin/test_bench_preview" ]; then
    cmake -S . -B "$build" -G Ninja -DTALLIX_BUILD_BENCH=OFF >/dev/null
    cmake --build "$build" --target tallix txengine screen_grab examples test_bench_preview
fi

work=${TALLIX_SCREENSHOT_DIR:-/home/ann/tallix}
# The folder is emptied first: only one this script made (it holds the marker) or a new one.
if [ -e "$work" ] && [ ! -e "$work/.tallix-screenshots" ]; then
    echo "screenshots: $work exists and was not made by this script; set TALLIX_SCREENSHOT_DIR" >&2
    exit 1
fi
rm -rf "$work"
mkdir -p "$work/home/templates" "$work/config/Vantroy Technologies" "$work/output" "$work/mail" \
    "$work/scripts"
touch "$work/.tallix-screenshots"
cp examples/*.txf "$work/home/templates/"
cp examples/sample-inbox.mbox "$work/mail/inbox.mbox"
cp -r examples/scripts/javascript "$work/scripts/javascript"
# Twips: 15 to the pixel at 96 dpi, so the window is 720 by 450 pixels at the screen's corner.
printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=NETSCAPE\r\nLocalFileName=%s\r\nDeleteFlag=0\r\nMainLeft=0\r\nMainTop=0\r\nMainWidth=10800\r\nMainHeight=6750\r\n' \
    "$work/home/templates" "$work/mail/inbox.mbox" \
    >"$work/config/Vantroy Technologies/Tallix.ini"
# The example scripts, so that the template editor's Scripting tab lists procedures.
printf 'UseScripts=True\r\nScriptEngine=JScript\r\nScriptDir=%s\r\n' "$work/scripts/javascript" \
    >>"$work/config/Vantroy Technologies/Tallix.ini"
export TALLIX_HOME="$work/home" XDG_CONFIG_HOME="$work/config"
# The first run processes each message once, so that the record of processed messages holds
# its runs and the list's "Last Match" is filled; the setting goes again afterwards, so that
# Parse > All Templates below writes the sample's lines again.
printf 'ProcessOnce=True\r\n' >>"$work/config/Vantroy Technologies/Tallix.ini"
(cd "$work/output" && env -u DISPLAY -u WAYLAND_DISPLAY "$OLDPWD/$build/bin/txengine" /sx </dev/null >/dev/null 2>&1) || true
sed -i '/^ProcessOnce=/d' "$work/config/Vantroy Technologies/Tallix.ini"
# The engine ran from the repository copy; tallix finds it in TALLIX_HOME.
ln -sf "$PWD/$build/bin/txengine" "$work/home/txengine"

display=:${TALLIX_SCREEN_DISPLAY:-97}
Xvfb "$display" -screen 0 1600x1200x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
tallix_pid=""
bench_pid=""
cleanup() {
    [ -n "$tallix_pid" ] && kill "$tallix_pid" 2>/dev/null || true
    [ -n "$bench_pid" ] && kill "$bench_pid" 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
    if declare -F dovecot_stop >/dev/null; then dovecot_stop; fi
}
trap cleanup EXIT
export DISPLAY=$display QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY
for _ in $(seq 50); do
    xdpyinfo >/dev/null 2>&1 && break
    [ -e "/tmp/.X11-unix/X${display#:}" ] && break
    sleep 0.1
done

"$build/bin/tallix" >"$work/tallix.log" 2>&1 &
tallix_pid=$!
# The splash closes once start-up is complete; give the window time to paint.
sleep 4
"$build/bin/screen_grab" docs/screenshot-main-window.png 0 0 720 450
echo "wrote docs/screenshot-main-window.png"

# The template wizard, opened and filled in with the keyboard alone (File, New Template Wizard;
# the pages' mnemonics): its first page, and the formatted-text page with a pasted order form.
grab_wizard() {
    local id geometry
    id=$(xdotool search --sync --onlyvisible --name "$1" | head -n 1)
    geometry=$(xdotool getwindowgeometry --shell "$id")
    eval "$geometry"
    "$build/bin/screen_grab" "$2" "$X" "$Y" "$WIDTH" "$HEIGHT"
    echo "wrote $2"
}
main_id=$(xdotool search --sync --onlyvisible --name '^Tallix$' | head -n 1)
xdotool windowfocus --sync "$main_id"
xdotool key --delay 150 alt+f w
sleep 1
wizard_id=$(xdotool search --sync --onlyvisible --name 'The Template Wizard' | head -n 1)
xdotool windowfocus --sync "$wizard_id"
xdotool key ctrl+a
xdotool type --delay 20 'Web Orders'
sleep 0.5
grab_wizard 'The Template Wizard' docs/screenshot-wizard-name.png
xdotool key --delay 200 alt+n alt+n alt+n alt+n alt+v alt+f ctrl+a
for line in 'Order Number: 1001' 'Customer Name: Bob Jones' 'Email: bob@example.net' \
    'Quantity: 1' 'Product: Red Widget'; do
    xdotool type --delay 10 "$line"
    xdotool key Return
done
sleep 0.5
grab_wizard 'The Message Text Field' docs/screenshot-wizard-formatted-text.png
xdotool key Escape

# The template editor "Template Properties", one screenshot per tab: the third example
# template (OrderSizes, which runs scripts) is opened with Enter and the tabs are chosen by
# their mnemonics, as a keyboard user would. Then the Variables tab once more at a larger
# font (QT_FONT_DPI=144).
editor_shots() {
    local suffix=$1
    shift
    local main
    main=$(xdotool search --sync --onlyvisible --name '^Tallix$' | head -n1)
    xdotool windowfocus --sync "$main"
    xdotool key --clearmodifiers Down Down Down Return
    local editor
    editor=$(xdotool search --sync --onlyvisible --name '^Template Properties$' | head -n1)
    xdotool windowfocus --sync "$editor"
    sleep 1
    local X Y WIDTH HEIGHT SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$editor")"
    for tab in "$@"; do
        local name=${tab%%:*} key=${tab##*:}
        xdotool key --clearmodifiers "alt+$key"
        sleep 1
        "$build/bin/screen_grab" "docs/screenshot-editor-$name$suffix.png" "$X" "$Y" "$WIDTH" "$HEIGHT"
        echo "wrote docs/screenshot-editor-$name$suffix.png"
    done
    xdotool key --clearmodifiers Escape
}
editor_shots "" general:g variables:v output-format:f scripting:r
kill "$tallix_pid" 2>/dev/null || true
wait "$tallix_pid" 2>/dev/null || true
QT_FONT_DPI=144 "$build/bin/tallix" >"$work/tallix-large.log" 2>&1 &
tallix_pid=$!
sleep 4
editor_shots "-large-font" variables:v
kill "$tallix_pid" 2>/dev/null || true
wait "$tallix_pid" 2>/dev/null || true

# Under a dark palette at 144 dpi: two tabs of the editor, then the main window after
# Parse > All Templates, its Run panel showing the summary of the run.
grab_window() {  # grab_window TITLE-PATTERN FILE
    local X Y WIDTH HEIGHT SCREEN WINDOW id
    id=$(xdotool search --sync --onlyvisible --name "$1" | head -n1)
    eval "$(xdotool getwindowgeometry --shell "$id")"
    "$build/bin/screen_grab" "$2" "$X" "$Y" "$WIDTH" "$HEIGHT"
    echo "wrote $2"
}
# Started in the output folder: the engine it runs writes the templates' relative output files
# there, not into the repository.
(cd "$work/output" && TALLIX_SCREENSHOT_PALETTE=dark QT_FONT_DPI=144 exec "$OLDPWD/$build/bin/tallix") \
    >"$work/tallix-dark.log" 2>&1 &
tallix_pid=$!
sleep 4
editor_shots "-dark-144dpi" general:g variables:v
main_id=$(xdotool search --sync --onlyvisible --name '^Tallix$' | head -n 1)
xdotool windowfocus --sync "$main_id"
xdotool key --delay 150 --clearmodifiers alt+f w
sleep 1
grab_window 'The Template Wizard' docs/screenshot-wizard-name-dark-144dpi.png
xdotool key --clearmodifiers Escape
sleep 1
xdotool windowfocus --sync "$main_id"
# New mail since the first run (the sample again, under new Message-IDs), read with each message
# processed once: the run reads only the new messages, and "Last Match" moves on for the
# templates that wrote lines (those that check duplicates write none).
printf 'ProcessOnce=True\r\n' >>"$work/config/Vantroy Technologies/Tallix.ini"
sed 's/^Message-ID: <\([0-9]*\)\.sample@/Message-ID: <\1.again@/' examples/sample-inbox.mbox \
    >>"$work/mail/inbox.mbox"
xdotool key --delay 300 --clearmodifiers alt+p a
sleep 8
grab_window '^Tallix$' docs/screenshot-main-window-run-dark-144dpi.png
kill "$tallix_pid" 2>/dev/null || true
wait "$tallix_pid" 2>/dev/null || true

# The first start: a program folder and settings that have never been used.
mkdir -p "$work/first/home" "$work/first/config"
TALLIX_HOME="$work/first/home" XDG_CONFIG_HOME="$work/first/config" "$build/bin/tallix" \
    >"$work/tallix-first.log" 2>&1 &
tallix_pid=$!
sleep 4
# No source has been chosen yet: the first thing shown is the box that says so.
grab_window '^Error' docs/screenshot-first-start.png
box_id=$(xdotool search --sync --onlyvisible --name '^Error' | head -n1)
xdotool windowfocus --sync "$box_id"
xdotool key --clearmodifiers Return
sleep 2
grab_window '^Tallix$' docs/screenshot-first-start-main-window.png
kill "$tallix_pid" 2>/dev/null || true
wait "$tallix_pid" 2>/dev/null || true
tallix_pid=""

# The options dialog, one picture per tab, over sample accounts and settings (the host names
# are reserved example names).
cmake --build "$build" --target options_screens >/dev/null
printf '[GENERAL]\r\nCount=2\r\n[NAMES]\r\nConfig1=Home\r\nConfig2=Work\r\n[Home]\r\nHostName=pop.home.example\r\nPort=110\r\nLoginName=jo\r\nPassword=secret\r\n[Work]\r\nHostName=mail.work.example\r\nPort=995\r\nLoginName=jo.smith\r\nPassword=secret\r\n' \
    >"$work/home/POP3.CFG"
printf '[Settings]\r\nTemplateDir=%s\r\nScriptDir=%s\r\nUseSource=POP3\r\nProfile=/home/jo/Maildir\r\nLocalFileName=/home/jo/mail/archive.mbox\r\nUseScripts=True\r\nScriptEngine=Lua\r\nScriptExt=lua\r\nDeleteFlag=1\r\nDeleteUnused=False\r\n' \
    "$work/home/templates" "$work/home/scripts" >"$work/config/Vantroy Technologies/Tallix.ini"
# The IMAP account is a private dovecot on this machine (STARTTLS with the tests' own CA), so
# "Test connection" has a real answer to show.
. tests/support/dovecot_fixture.sh
dovecot_start "$work/dovecot" || { echo "screenshots: dovecot did not start" >&2; exit 1; }
dovecot_add_user jo secret
printf 'From: Shop <orders@shop.example>\r\nSubject: Order %s\r\n\r\nOrder: %s\r\n' 1001 1001 >"$work/m1"
for i in 1 2 3; do dovecot_deliver jo "$work/m1"; done
dovecot_folder jo .Orders
printf '[GENERAL]\r\nCount=1\r\n[NAMES]\r\nConfig1=Office\r\n[Office]\r\nHostName=127.0.0.1\r\nPort=%s\r\nLoginName=jo\r\nPassword=secret\r\nMoveTo=Orders\r\n' \
    "$DOVECOT_IMAP_PORT" >"$work/home/IMAP.CFG"
cmake --build "$build" --target imap_check >/dev/null
ln -sf "$PWD/$build/bin/imap_check" "$work/home/imap_check"
TALLIX_CA_FILE=$DOVECOT_CA "$build/bin/options_screens" docs
# Each tab again under a dark palette at 144 dpi.
mkdir -p "$work/dark"
TALLIX_CA_FILE=$DOVECOT_CA TALLIX_SCREENSHOT_PALETTE=dark QT_FONT_DPI=144 \
    "$build/bin/options_screens" "$work/dark" >/dev/null
for f in "$work"/dark/screenshot-options-*.png; do
    name=$(basename "$f" .png)
    cp "$f" "docs/$name-dark-144dpi.png"
    echo "wrote docs/$name-dark-144dpi.png"
done
dovecot_stop

# The template editor's test bench: Orders tried on the sample mailbox, message 3 selected.
kill "$tallix_pid" 2>/dev/null || true
wait "$tallix_pid" 2>/dev/null || true
tallix_pid=""
"$build/bin/test_bench_preview" "$work/home/templates/Orders.txf" "$work/mail/inbox.mbox" 3 \
    >"$work/test-bench.log" 2>&1 &
bench_pid=$!
sleep 4
"$build/bin/screen_grab" docs/screenshot-test-bench.png 0 0 900 560
echo "wrote docs/screenshot-test-bench.png"
kill "$bench_pid" 2>/dev/null || true
wait "$bench_pid" 2>/dev/null || true
# The same under a dark palette at 144 dpi: the marks take the palette's colours.
TALLIX_SCREENSHOT_PALETTE=dark QT_FONT_DPI=144 "$build/bin/test_bench_preview" \
    "$work/home/templates/Orders.txf" "$work/mail/inbox.mbox" 3 >"$work/test-bench-dark.log" 2>&1 &
bench_pid=$!
sleep 4
"$build/bin/screen_grab" docs/screenshot-test-bench-dark-144dpi.png 0 0 1024 768
echo "wrote docs/screenshot-test-bench-dark-144dpi.png"
kill "$bench_pid" 2>/dev/null || true
wait "$bench_pid" 2>/dev/null || true

# Making a variable from a selected value on the bench: "4701" selected in message 3 with the
# message view's menu open; then "2" after "Quantity:" made a variable and tried on every
# message, the counts per variable beside the list. Each again under a dark palette at 144 dpi.
pick_shot() {  # pick_shot FILE WIDTH HEIGHT VALUE [VARIABLE=VALUE...]
    local file=$1 width=$2 height=$3 value=$4
    shift 4
    env TALLIX_PREVIEW_SIZE="${width}x$height" "$@" "$build/bin/test_bench_preview" \
        "$work/home/templates/Orders.txf" "$work/mail/inbox.mbox" 3 "$value" \
        >"$work/test-bench-pick.log" 2>&1 &
    bench_pid=$!
    sleep 5
    # At 144 dpi the window is half as large again on the screen: the window as it stands.
    grab_window '^Test - Orders$' "$file"
    kill "$bench_pid" 2>/dev/null || true
    wait "$bench_pid" 2>/dev/null || true
}
pick_shot docs/screenshot-test-bench-pick-menu.png 1100 720 4701 TALLIX_PREVIEW_MENU=1
pick_shot docs/screenshot-test-bench-pick-counts.png 1100 720 2
pick_shot docs/screenshot-test-bench-pick-menu-dark-144dpi.png 1040 740 4701 TALLIX_PREVIEW_MENU=1 \
    TALLIX_SCREENSHOT_PALETTE=dark QT_FONT_DPI=144
pick_shot docs/screenshot-test-bench-pick-counts-dark-144dpi.png 1040 740 2 \
    TALLIX_SCREENSHOT_PALETTE=dark QT_FONT_DPI=144
bench_pid=""
