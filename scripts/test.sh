#!/usr/bin/env bash
# Sets everything up on a fresh machine, builds, and runs every test with CTest.
# Usage: bash scripts/test.sh            (build directory: build/)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
ctest --test-dir build --output-on-failure -j"$(nproc)"
