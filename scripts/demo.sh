#!/usr/bin/env bash
# Sets everything up on a fresh machine, builds, and runs the engine over the bundled example:
# the sample mailbox (examples/sample-inbox.mbox, a Netscape-style mail folder) with the five
# example templates; OrderSizes runs the example scripts (JavaScript; `demo.sh Lua` runs the
# Lua ones). Everything lives under build/demo: its own program directory, its own settings
# file and the output files; the user's own settings are never touched.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
language="${1:-JavaScript}"
case "$(echo "$language" | tr A-Z a-z)" in
    lua) scripts=lua ;;
    *) scripts=javascript ;;
esac

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target txengine examples default_extensions

demo="$root/build/demo"
rm -rf "$demo"
mkdir -p "$demo/home/templates" "$demo/config/Vantroy Technologies" "$demo/output"
cp "$root"/build/bin/Examples/*.txf "$demo/home/templates/"
cp "$root/build/bin/Examples/sample-inbox.mbox" "$demo/sample-inbox.mbox"
cp "$root/engine/extensions.txt" "$demo/home/extensions.txt"
mkdir -p "$demo/home/scripts"
cp "$root/build/bin/Examples/scripts/$scripts"/* "$demo/home/scripts/"
export TALLIX_HOME="$demo/home" XDG_CONFIG_HOME="$demo/config"
printf '[Settings]\r\nTemplateDir=%s\r\nScriptDir=%s\r\nUseScripts=True\r\nScriptEngine=%s\r\nUseSource=NETSCAPE\r\nLocalFileName=%s\r\nDeleteFlag=0\r\n' \
    "$demo/home/templates" "$demo/home/scripts" "$language" "$demo/sample-inbox.mbox" \
    >"$demo/config/Vantroy Technologies/Tallix.ini"

echo "== txengine /sx over $demo/sample-inbox.mbox"
# The example templates name their output files without a directory: they land in the
# directory the engine runs in.
status=0
(cd "$demo/output" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/build/bin/txengine" /sx </dev/null) || status=$?
echo "txengine ended with status $status"
echo
for f in "$demo"/output/*; do
    [ -e "$f" ] || continue
    echo "== $f ($(wc -l <"$f") lines), first lines:"
    head -n 3 "$f" | sed 's/\r$//'
    echo
done
echo "== system log ($TALLIX_HOME/txSystem.Log):"
sed 's/\r$//' "$TALLIX_HOME/txSystem.Log" 2>/dev/null | tail -n 4 || true
if [ -s "$TALLIX_HOME/txError.Log" ]; then
    echo "== error log ($TALLIX_HOME/txError.Log):"
    sed 's/\r$//' "$TALLIX_HOME/txError.Log"
fi
exit "$status"
