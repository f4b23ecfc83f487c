#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang into build-fuzz/ and runs each for
# a bounded time (FUZZ_SECONDS, default 30) from the seed corpus in fuzz/corpus.
# New inputs go to build-fuzz/corpus, crashes to build-fuzz/artifacts; the
# repository's corpus is only read.
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
seconds="${FUZZ_SECONDS:-30}"
fuzzers=(attribute_list ini_document system_dsn_request access_file access_sql_rewrite)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARNWICK_FUZZ=ON -DTARNWICK_UI=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target "${fuzzers[@]/%/_fuzzer}"

mkdir -p build-fuzz/artifacts
# Each fuzzer's output goes to build-fuzz/FUZZER.log: libmdb prints a warning
# for most damaged values, millions in a run. What is shown is that output
# without those warnings: its end, or on a failure the report and its input.
failed=0
for fuzzer in "${fuzzers[@]}"; do
    echo "Fuzzing the ${fuzzer//_/ } parser for ${seconds} s"
    mkdir -p "build-fuzz/corpus/$fuzzer"
    log="build-fuzz/$fuzzer.log"
    status=0
    build-fuzz/fuzz/"${fuzzer}_fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="build-fuzz/artifacts/${fuzzer}-" \
        "build-fuzz/corpus/$fuzzer" "fuzz/corpus/$fuzzer" >"$log" 2>&1 || status=$?
    if [ "$status" -eq 0 ]; then
        grep -av '^Warning: \|^Unknown record type\|^sequence error' "$log" | tail -n 15
    else
        grep -av '^Warning: \|^Unknown record type\|^sequence error' "$log" | grep -a -A 40 -m 1 '==ERROR\|ERROR: libFuzzer\|deadly signal' || true
        grep -a 'Test unit written\|^Base64' "$log" || true
        echo "The ${fuzzer//_/ } fuzzer failed (exit $status); its whole output is in $log"
        failed=1
    fi
done
exit "$failed"
