#!/usr/bin/env bash
# Installs what is missing, builds Tarnwick twice (plain, and with
# AddressSanitizer + UndefinedBehaviorSanitizer) and runs every test in both;
# between the two, fuzzes the setup library's parsers for a bounded time.
#
# TARNWICK_TEST_SCOPE=release runs the plain build's suite only: the runs on
# other Debian releases set it, since fuzzing and the sanitized build find the
# same faults on every release and one run of them is enough.
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
scope="${TARNWICK_TEST_SCOPE:-full}"
case "$scope" in
    full | release) ;;
    *) echo "$0: TARNWICK_TEST_SCOPE is full (the default) or release, not '$scope'" >&2; exit 2 ;;
esac
"$top/scripts/install-deps.sh" test

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_UI=ON -DTARNWICK_TESTS=ON
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"
[ "$scope" = full ] || exit 0

# The setup library's parsers under libFuzzer (clang), for a bounded time each.
"$top/fuzz/run.sh"

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DTARNWICK_SANITIZE=ON -DTARNWICK_UI=ON -DTARNWICK_TESTS=ON
cmake --build build-sanitize -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-sanitize --output-on-failure -j"$jobs"

# The booted-desktop test (a Debian 13 VM with polkit, an agent and X) is
# opt-in and needs KVM: under software emulation it takes far longer, so that
# is left to running scripts/test-desktop-vm.sh with TARNWICK_VM_ACCEL=tcg.
if [ "${TARNWICK_DESKTOP_VM:-}" = 1 ]; then
    if "$top/scripts/test-desktop-vm.sh" --kvm-usable; then
        "$top/scripts/test-desktop-vm.sh"
    else
        echo "Skipping the desktop VM test: KVM is not usable here" \
            "(TARNWICK_VM_ACCEL=tcg scripts/test-desktop-vm.sh runs it under software emulation)"
    fi
fi
