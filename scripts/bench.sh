#!/usr/bin/env bash
# Builds Tarnwick and prints its benchmark figures side by side with their
# yardsticks, as ratios: start-up and memory against an empty Qt window and a
# window with the same controls, adding data sources against unixODBC's
# odbcinst, growth with a large odbc.ini, the helper route's call times, and a
# whole table read through the Access driver against mdbtools' driver directly
# and mdb-export, and the Access engine on a large generated file (table read
# against mdb-export, open time, an equality join, memory while streaming).
# Options are passed on to the benchmark (--start-up-runs N, --create-count N,
# --growth-runs N, --route-calls N, --read-rounds N, --engine-rounds N). BUILD_DIR picks the build
# folder (default: build).
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
"$top/scripts/install-deps.sh" test

build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_SANITIZE=OFF -DTARNWICK_UI=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target tarnwick_bench tarnwick_engine_bench

# --engine-rounds is the engine benchmark's; the rest are the main one's.
engine_args=()
main_args=()
while [ $# -gt 0 ]; do
    if [ "$1" = "--engine-rounds" ] && [ $# -ge 2 ]; then
        engine_args+=("$1" "$2")
        shift 2
    else
        main_args+=("$1")
        shift
    fi
done
set -- "${main_args[@]+"${main_args[@]}"}"
"$build/bench/tarnwick_engine_bench" "${engine_args[@]+"${engine_args[@]}"}"

# The window needs a display; without one, a private X server makes the
# start-up figures include a real display connection for both programs.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$build/bench/tarnwick_bench" "$@"
fi
exec "$build/bench/tarnwick_bench" "$@"
