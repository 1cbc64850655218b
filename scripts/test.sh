#!/usr/bin/env bash
# Sets everything up on a fresh machine, builds, and runs every test with CTest; then builds
# the libraries, the engine, the tests and the fuzz replays again with AddressSanitizer and
# UndefinedBehaviorSanitizer (no windows, no benchmarks) and runs those tests too; last, the
# MIME component's tests (its worker thread and the hand-over to the host) with ThreadSanitizer.
# Usage: bash scripts/test.sh            (build directories: build/, build-asan/, build-tsan/)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
ctest --test-dir build --output-on-failure -j"$(nproc)"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTALLIX_SANITIZE=ON -DTALLIX_BUILD_GUI=OFF -DTALLIX_BUILD_BENCH=OFF
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j"$(nproc)"

cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTALLIX_BUILD_GUI=OFF -DTALLIX_BUILD_BENCH=OFF -DCMAKE_CXX_FLAGS=-fsanitize=thread \
    -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread
cmake --build build-tsan --target mime_tests
TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/mime_tests --gtest_brief=1
