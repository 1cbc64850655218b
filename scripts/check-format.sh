#!/usr/bin/env bash
# Fails when a C++ file of the tree is not laid out as .clang-format says; lists the places.
# To lay the files out:  git ls-files '*.cpp' '*.h' | xargs clang-format -i
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
echo "formatting: every C++ file as .clang-format says"
