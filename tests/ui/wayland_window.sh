#!/usr/bin/env bash
# Usage: wayland_window.sh PROGRAM IDLE_PROBE
#
# Starts the program as a Wayland client of a compositor of its own (weston's
# headless backend, no display hardware needed) and passes when its window is
# exposed on the wayland platform plugin: the idle probe (bench/idle_probe.cpp)
# reports the platform once a window is shown and ends the program.
set -euo pipefail

[ $# -eq 2 ] || { echo "usage: $0 PROGRAM IDLE_PROBE" >&2; exit 2; }
program=$1
probe=$2

work=$(mktemp -d)
weston_pid=
cleanup() {
    if [ -n "$weston_pid" ]; then
        kill "$weston_pid" 2>/dev/null || true
        wait "$weston_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 0700 "$XDG_RUNTIME_DIR" "$work/odbc"
: >"$work/odbc/odbcinst.ini"
: >"$work/odbc/odbc.ini"
unset DISPLAY

weston --backend=headless-backend.so --socket=tarnwick-test --no-config --idle-time=0 \
    >"$work/weston.log" 2>&1 &
weston_pid=$!
for _ in $(seq 100); do
    [ -S "$XDG_RUNTIME_DIR/tarnwick-test" ] && break
    kill -0 "$weston_pid" 2>/dev/null || { cat "$work/weston.log" >&2; echo "FAIL: weston ended" >&2; exit 1; }
    sleep 0.1
done
[ -S "$XDG_RUNTIME_DIR/tarnwick-test" ] || { cat "$work/weston.log" >&2; echo "FAIL: no Wayland socket" >&2; exit 1; }

status=0
WAYLAND_DISPLAY=tarnwick-test QT_QPA_PLATFORM=wayland ODBCSYSINI="$work/odbc" \
    LD_PRELOAD="$probe" TARNWICK_BENCH_IDLE_REPORT="$work/shown" \
    timeout 30 "$program" >"$work/program.log" 2>&1 || status=$?
if [ "$status" -ne 0 ] || [ ! -s "$work/shown" ]; then
    cat "$work/program.log" >&2
    echo "FAIL: the program ended with status $status before showing its window" >&2
    exit 1
fi
read -r _ platform <"$work/shown"
if [ "$platform" != wayland ]; then
    echo "FAIL: the window was shown on the '$platform' platform, not wayland" >&2
    exit 1
fi
echo "PASS: the window was shown through the Wayland compositor"
