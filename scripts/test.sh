#!/usr/bin/env bash
# Installs what is missing, builds Tarnwick twice (plain, and with
# AddressSanitizer + UndefinedBehaviorSanitizer) and runs every test in both;
# between the two, fuzzes the setup library's parsers for a bounded time.
# Every step runs even when one before it failed (a suite only when its build
# succeeded), and the run ends with each step's outcome; it fails when any
# step failed.
#
# TARNWICK_TEST_SCOPE=release runs the plain build's suite only, for a quick
# look at a release; the test command and CI run everything.
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
. "$top/scripts/steps.sh"
scope="${TARNWICK_TEST_SCOPE:-full}"
case "$scope" in
    full | release) ;;
    *) echo "$0: TARNWICK_TEST_SCOPE is full (the default) or release, not '$scope'" >&2; exit 2 ;;
esac
# Nothing else can run without the packages.
step "Installing packages" "$top/scripts/install-deps.sh" test || { steps_summary; exit 1; }

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

# Configures and builds DIR with the given options (errexit is off in a step).
build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -DTARNWICK_UI=ON -DBUILD_TESTING=ON "$@" && cmake --build "$dir" -j"$jobs"
}

if step "Plain build" build build -DCMAKE_BUILD_TYPE=RelWithDebInfo; then
    step "Plain build's tests" ctest --test-dir build --output-on-failure -j"$jobs" || true
else
    skip_step "Plain build's tests" "the build failed"
fi

if [ "$scope" = full ]; then
    # The setup library's parsers under libFuzzer (clang), for a bounded time each.
    step "Fuzzing" "$top/fuzz/run.sh" || true

    if step "Sanitized build" build build-sanitize -DCMAKE_BUILD_TYPE=Debug -DTARNWICK_SANITIZE=ON; then
        step "Sanitized build's tests" env ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
            UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
            ctest --test-dir build-sanitize --output-on-failure -j"$jobs" || true
    else
        skip_step "Sanitized build's tests" "the build failed"
    fi
fi

# The booted-desktop test (a Debian 13 VM with polkit, an agent and X) is
# opt-in and needs KVM: under software emulation it takes far longer, so that
# is left to running scripts/test-desktop-vm.sh on its own.
if [ "${TARNWICK_DESKTOP_VM:-}" = 1 ]; then
    if "$top/scripts/test-desktop-vm.sh" --kvm-usable; then
        step "Desktop VM" "$top/scripts/test-desktop-vm.sh" || true
    else
        skip_step "Desktop VM" "KVM is not usable here (scripts/test-desktop-vm.sh runs it under software emulation)"
    fi
fi

steps_summary
