#!/usr/bin/env bash
# Renders the "Create System DSN" window of an already built program under Xvfb
# and saves a screenshot as BUILD_DIR/window.png, for a person to look at.
#
#   scripts/render-window.sh build
#
# The program runs against an empty sandbox ODBC directory, so rendering it
# touches no data source. Needs xvfb-run, xwininfo (x11-utils) and import
# (imagemagick).
set -euo pipefail

title="Create System DSN"
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
[ -x "$build/tarnwick" ] || { echo "$0: $build/tarnwick is not built" >&2; exit 1; }

# Start again inside a fresh X server of our own at 96 dots per inch, the
# resolution the window's layout is drawn for.
if [ -z "${TARNWICK_RENDER_IN_XVFB:-}" ]; then
    exec env TARNWICK_RENDER_IN_XVFB=1 xvfb-run --auto-servernum \
        --server-args="-screen 0 640x480x24 -dpi 96 -nolisten tcp" "$0" "$build"
fi

sandbox=$(mktemp -d)
pid=
cleanup() {
    if [ -n "$pid" ]; then
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
    rm -rf "$sandbox"
}
trap cleanup EXIT
: >"$sandbox/odbcinst.ini"
: >"$sandbox/odbc.ini"

unset QT_QPA_PLATFORM WAYLAND_DISPLAY
ODBCSYSINI="$sandbox" "$build/tarnwick" &
pid=$!

shown=
for _ in $(seq 100); do
    if xwininfo -name "$title" 2>/dev/null | grep -q 'Map State: IsViewable'; then
        shown=1
        break
    fi
    kill -0 "$pid" 2>/dev/null || { echo "$0: tarnwick ended before its window showed" >&2; exit 1; }
    sleep 0.1
done
[ -n "$shown" ] || { echo "$0: the window did not show within 10 seconds" >&2; exit 1; }
# Mapped is not yet painted: give the first paint a moment.
sleep 1
import -window "$title" "$build/window.png"
echo "$build/window.png"
