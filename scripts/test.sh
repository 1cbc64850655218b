#!/usr/bin/env bash
# Sets everything up on a fresh machine, builds, and runs every test with CTest; then builds
# the libraries, the engine, the tests and the fuzz replays again with AddressSanitizer and
# UndefinedBehaviorSanitizer (no windows, no benchmarks) and runs those tests too; last, the
# tests of the MIME component, the engine, the trial of a template and the mail sources with
# ThreadSanitizer.
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
# The programs whose code runs on more than one thread: the MIME component's worker and its
# hand-over to the host, the engine (the MIME host, the run), the trial of a template (which the
# manager's test bench runs on a worker thread), the templates library and the mail sources.
tsan_tests=(mime_tests engine_tests template_trial_tests templates_tests sources_tests
    pop3_config_tests maildir_tests)
cmake --build build-tsan --target "${tsan_tests[@]}"
for t in "${tsan_tests[@]}"; do
    (cd build-tsan/tests && TALLIX_TEST_DATA="$PWD/../../tests/data" TSAN_OPTIONS=halt_on_error=1 \
        "./$t" --gtest_brief=1)
done
