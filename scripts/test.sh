#!/usr/bin/env bash
# Installs what is missing, builds Tarnwick twice (plain, and with
# AddressSanitizer + UndefinedBehaviorSanitizer) and runs every test in both;
# between the two, fuzzes the setup library's parsers for a bounded time.
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
"$top/scripts/install-deps.sh"

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_UI=ON -DTARNWICK_TESTS=ON
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

# The setup library's parsers under libFuzzer (clang), for a bounded time each.
"$top/fuzz/run.sh"

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DTARNWICK_SANITIZE=ON -DTARNWICK_UI=ON -DTARNWICK_TESTS=ON
cmake --build build-sanitize -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-sanitize --output-on-failure -j"$jobs"
