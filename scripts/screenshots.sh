#!/usr/bin/env bash
# Retakes the screenshots in docs/ under a virtual X display (Xvfb): the main window of tallix
# with the example templates, after one engine run over the sample mailbox so that
# "Last Time Used" is filled. Uses a program directory and settings of its own under
# build/screenshots (never your own settings). Run from the repository root:
#     bash scripts/screenshots.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bash scripts/install-deps.sh screenshots
if [ ! -x "$build/bin/tallix" ] || [ ! -x "$build/bin/screen_grab" ]; then
    cmake -S . -B "$build" -G Ninja -DTALLIX_BUILD_BENCH=OFF >/dev/null
    cmake --build "$build" --target tallix txengine screen_grab examples
fi

work="$PWD/$build/screenshots"
rm -rf "$work"
mkdir -p "$work/home/templates" "$work/config/Vantroy Technologies" "$work/output"
cp examples/*.txf "$work/home/templates/"
# Twips: 15 to the pixel at 96 dpi, so the window is 720 by 450 pixels at the screen's corner.
printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=NETSCAPE\r\nLocalFileName=%s\r\nDeleteFlag=0\r\nMainLeft=0\r\nMainTop=0\r\nMainWidth=10800\r\nMainHeight=6750\r\n' \
    "$work/home/templates" "$PWD/examples/sample-inbox.mbox" \
    >"$work/config/Vantroy Technologies/Tallix.ini"
export TALLIX_HOME="$work/home" XDG_CONFIG_HOME="$work/config"
(cd "$work/output" && env -u DISPLAY -u WAYLAND_DISPLAY "$OLDPWD/$build/bin/txengine" /sx </dev/null >/dev/null 2>&1) || true
# The engine ran from the repository copy; tallix finds it in TALLIX_HOME.
ln -sf "$PWD/$build/bin/txengine" "$work/home/txengine"

display=:${TALLIX_SCREEN_DISPLAY:-97}
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
tallix_pid=""
cleanup() {
    [ -n "$tallix_pid" ] && kill "$tallix_pid" 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
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

# The options dialog, one picture per tab, over sample accounts and settings (the host names
# are reserved example names).
cmake --build "$build" --target options_screens >/dev/null
printf '[GENERAL]\r\nCount=2\r\n[NAMES]\r\nConfig1=Home\r\nConfig2=Work\r\n[Home]\r\nHostName=pop.home.example\r\nPort=110\r\nLoginName=jo\r\nPassword=secret\r\n[Work]\r\nHostName=mail.work.example\r\nPort=995\r\nLoginName=jo.smith\r\nPassword=secret\r\n' \
    >"$work/home/POP3.CFG"
printf '[Settings]\r\nTemplateDir=%s\r\nScriptDir=%s\r\nUseSource=POP3\r\nProfile=/home/jo/Maildir\r\nLocalFileName=/home/jo/mail/archive.mbox\r\nUseScripts=True\r\nScriptEngine=Lua\r\nScriptExt=lua\r\nDeleteFlag=1\r\nDeleteUnused=False\r\n' \
    "$work/home/templates" "$work/home/scripts" >"$work/config/Vantroy Technologies/Tallix.ini"
"$build/bin/options_screens" docs
