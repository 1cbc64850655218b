#!/usr/bin/env bash
# The one list of Debian packages the build, the tests and the example run need.
# Quick when everything is already installed; must work as root on a fresh machine.
# `install-deps.sh fuzz` also installs what scripts/fuzz.sh needs (clang with libFuzzer);
# `install-deps.sh screenshots` what scripts/screenshots.sh needs (a virtual X display). The
# tests need neither.
set -euo pipefail

PACKAGES=(
    build-essential cmake ninja-build ccache pkg-config
    qt6-base-dev libgl-dev
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    libcurl4-openssl-dev libssl-dev ca-certificates
    dovecot-core dovecot-pop3d dovecot-imapd
    duktape-dev liblua5.4-dev
    libgmime-3.0-dev
    libsqlite3-dev
    libpcre2-dev
    libjemalloc-dev
    libpoppler-cpp-dev libzip-dev libpugixml-dev libfreexl-dev libytnef0-dev
    qpdf
    clang-format
)
if [ "${1:-}" = "fuzz" ]; then
    PACKAGES+=(clang)
fi
if [ "${1:-}" = "screenshots" ]; then
    PACKAGES+=(xvfb xauth)
    # The template editor's and the wizard's screenshots are taken by driving tallix with keys.
    PACKAGES+=(xdotool)
fi

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
