#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (the whole tree instrumented, with
# AddressSanitizer and UndefinedBehaviorSanitizer) and runs one target for a time.
# Usage: bash scripts/fuzz.sh TARGET SECONDS [extra libFuzzer options]
#   TARGET is a name from fuzz/CMakeLists.txt (profile_file, mailbox, ...).
# New inputs go to build-fuzz/corpus/TARGET (the seeds in fuzz/corpus/TARGET are read, not
# changed); a crash is saved as build-fuzz/artifacts/TARGET/crash-*; copy it to
# tests/data/regressions/TARGET/ once it is fixed, so CTest replays it.
# A dictionary fuzz/TARGET.dict, when there is one, is passed on. Installs clang through scripts/install-deps.sh fuzz.
# Environment: TALLIX_FUZZ_BUILD (build directory, default build-fuzz), TALLIX_FUZZ_JOBS.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 2 ]; then
    echo "usage: $0 TARGET SECONDS [libFuzzer options]" >&2
    exit 2
fi
target=$1
seconds=$2
shift 2
build=${TALLIX_FUZZ_BUILD:-build-fuzz}
bash scripts/install-deps.sh fuzz

if [ ! -f fuzz/${target}_fuzz.cpp ]; then
    echo "no fuzz target '${target}'" >&2
    exit 2
fi

flags="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
# libqrmime.so is linked with --no-undefined, which the static sanitizer runtimes cannot
# satisfy in a shared library; every binary uses the shared runtimes instead.
runtime_dir=$(clang++ -print-runtime-dir)
link="-fsanitize=address,undefined -shared-libsan -Wl,-rpath,$runtime_dir"
cmake -S . -B "$build" -G Ninja \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$link" -DCMAKE_SHARED_LINKER_FLAGS="$link" \
    -DTALLIX_FUZZ=ON -DTALLIX_BUILD_TESTS=OFF -DTALLIX_BUILD_GUI=OFF -DTALLIX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target "fuzz_${target}" -j"${TALLIX_FUZZ_JOBS:-$(nproc)}"

corpus="$build/corpus/$target"
artifacts="$build/artifacts/$target"
mkdir -p "$corpus" "$artifacts"
seeds=(fuzz/corpus/"$target")
if [ -d tests/data/regressions/"$target" ]; then
    seeds+=(tests/data/regressions/"$target")
fi

# The shared runtime is loaded before any instrumented code runs, though not first in the
# list the check looks at.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:verify_asan_link_order=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
dict=()
if [ -f fuzz/"$target".dict ]; then
    dict=(-dict=fuzz/"$target".dict)
fi
exec "$build/fuzz/fuzz_${target}" "$corpus" "${seeds[@]}" \
    -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -max_len=1048576 \
    -artifact_prefix="$artifacts/" -print_final_stats=1 "${dict[@]}" "$@"
