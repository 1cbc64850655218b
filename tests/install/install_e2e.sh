#!/usr/bin/env bash
# cmake --install into a temporary prefix, then the installed txengine over the installed
# examples with HOME pointed at a temporary directory: the installed copy writes only under
# ~/.local/share/tallix and ~/.config, reads its examples from <prefix>/share/tallix, and finds
# libqrmime in <prefix>/lib.
set -u
fail() { echo "FAIL: $*" >&2; exit 1; }
build=$(cd "$TALLIX_BIN/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || fail "install: $(cat "$work/install.log")"

expected=(bin/txengine bin/qrmime share/tallix/Examples/Orders.txf
    share/tallix/Examples/sample-inbox.mbox share/tallix/extensions.txt
    share/man/man1/txengine.1 share/man/man1/qrmime.1 share/man/man1/tallix.1
    share/doc/tallix/README.md lib/systemd/user/tallix-engine.service
    lib/systemd/user/tallix-engine-once.service lib/systemd/user/tallix-engine.timer)
if [ -n "${TALLIX_WITH_GUI:-}" ]; then
    expected+=(bin/tallix share/applications/tallix.desktop
        share/icons/hicolor/scalable/apps/tallix.svg share/doc/tallix/html/contents.html
        share/doc/tallix/html/getting-started.html)
fi
for f in "${expected[@]}"; do [ -e "$prefix/$f" ] || fail "not installed: $f"; done
ls "$prefix"/lib*/libqrmime.so.1 >/dev/null 2>&1 || fail "libqrmime.so.1 not installed"
ldd "$prefix/bin/txengine" | grep -q "libqrmime.so.1 => $prefix/" || fail "txengine does not find the installed libqrmime: $(ldd "$prefix/bin/txengine" | grep qrmime)"
[ ! -e "$prefix/bin/Examples" ] || fail "Examples beside the programs"
grep -qx "ExecStart=$prefix/bin/txengine /sx /watch" "$prefix/lib/systemd/user/tallix-engine.service" ||
    fail "watch unit: $(grep ExecStart "$prefix/lib/systemd/user/tallix-engine.service")"
grep -qx "ExecStart=$prefix/bin/txengine /sx" "$prefix/lib/systemd/user/tallix-engine-once.service" ||
    fail "timer's unit: $(grep ExecStart "$prefix/lib/systemd/user/tallix-engine-once.service")"
if [ -n "${TALLIX_WITH_GUI:-}" ]; then
    grep -q '^Exec=tallix$' "$prefix/share/applications/tallix.desktop" || fail "desktop entry"
fi

home="$work/home"
mkdir -p "$home" "$work/out"
touch "$work/stamp"
sleep 1
run() {  # run ARGS...: the installed engine as a user with nothing but HOME
    (cd "$work/out" && env -u TALLIX_HOME -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u DISPLAY \
        -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$home" "$prefix/bin/txengine" "$@" \
        </dev/null >"$work/stdout" 2>"$work/stderr")
}

# First start: no settings, no templates. The program directory is made private, the
# default template directory is written to the settings, and the run ends with its report.
run /sx
status=$?
[ "$status" = 1 ] || fail "first run: status $status, $(cat "$work/stderr")"
programdir="$home/.local/share/tallix"
[ -d "$programdir" ] || fail "no program directory under ~/.local/share"
[ "$(stat -c %a "$programdir")" = 700 ] || fail "program directory mode $(stat -c %a "$programdir")"
settings="$home/.config/Vantroy Technologies/Tallix.ini"
grep -q "^TemplateDir=$programdir/templates" "$settings" || fail "default TemplateDir: $(cat "$settings")"
[ -s "$programdir/txError.Log" ] || fail "error log not in the program directory"

mkdir -p "$programdir/templates"
cp "$prefix/share/tallix/Examples/"*.txf "$programdir/templates/"
printf '[Settings]\r\nTemplateDir=%s\r\nUseSource=NETSCAPE\r\nLocalFileName=%s\r\nDeleteFlag=0\r\n' \
    "$programdir/templates" "$prefix/share/tallix/Examples/sample-inbox.mbox" >"$settings"
run /sx
status=$?
[ "$status" = 0 ] || fail "example run: status $status, $(cat "$work/stderr")"
[ -s "$work/out/orders.csv" ] || fail "orders.csv empty or missing: $(ls "$work/out")"
grep -q 'Parsed:' "$programdir/txSystem.Log" || fail "summary not in the system log"
grep -q 'Last_Ran=[0-9]' "$programdir/templates/Orders.txf" || fail "template not stamped"

# Nothing was written under the prefix.
written=$(find "$prefix" -newer "$work/stamp" -type f)
[ -z "$written" ] || fail "written under the prefix: $written"
echo "install_e2e: ok"
