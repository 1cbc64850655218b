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
if [ ! -x "$build/bin/tallix" ] || [ ! -x "$build/bin/screen_grab" ] || [ ! -x "$build/bin/test_bench_preview" ]; then
    cmake -S . -B "$build" -G Ninja -DTALLIX_BUILD_BENCH=OFF >/dev/null
    cmake --build "$build" --target tallix txengine screen_grab examples test_bench_preview
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
bench_pid=""
cleanup() {
    [ -n "$tallix_pid" ] && kill "$tallix_pid" 2>/dev/null || true
    [ -n "$bench_pid" ] && kill "$bench_pid" 2>/dev/null || true
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
kill "$tallix_pid" 2>/dev/null || true
tallix_pid=""

# The template editor's test bench: Orders tried on the sample mailbox, message 3 selected.
"$build/bin/test_bench_preview" "$work/home/templates/Orders.txf" "$PWD/examples/sample-inbox.mbox" 3 \
    >"$work/test-bench.log" 2>&1 &
bench_pid=$!
sleep 4
"$build/bin/screen_grab" docs/screenshot-test-bench.png 0 0 900 560
echo "wrote docs/screenshot-test-bench.png"
