#!/usr/bin/env bash
# Installs what is missing, builds Tarnwick and opens the "Create System DSN" dialog.
#
# As root the dialog writes the machine's own System DSNs (/etc/odbc.ini), and the
# Access driver is registered in /etc/odbcinst.ini first when it is missing.
# As anyone else it works in a sandbox ODBC directory under $XDG_DATA_HOME, so
# trying the program needs no root and touches nothing outside that folder.
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
"$top/scripts/install-deps.sh" run

# Tests off: the run packages have no GoogleTest. The test command turns them
# on again in the same folder and rebuilds only what changed.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_UI=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build -j"$(nproc)" --target tarnwick tarnwick_mdbsetup tarnwick_mdbodbc

if [ "$(id -u)" -eq 0 ]; then
    "$top/scripts/register-driver.sh" "$top/build"
else
    sandbox="${XDG_DATA_HOME:-$HOME/.local/share}/tarnwick/odbc"
    "$top/scripts/make-sandbox.sh" "$top/build" "$sandbox"
    export ODBCSYSINI="$sandbox"
    echo "Not running as root: System DSNs go to the sandbox $sandbox/odbc.ini"
    echo "(query them with: ODBCSYSINI=$sandbox isql -v <DSN>)"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found (neither DISPLAY nor WAYLAND_DISPLAY is set): start the dialog from a desktop session, or under Xvfb with xvfb-run $0" >&2
    exit 1
fi
exec "$top/build/tarnwick"
