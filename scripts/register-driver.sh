#!/usr/bin/env bash
# Usage: register-driver.sh BUILD_DIR   (as root)
#
# Registers "Microsoft Access Driver (*.mdb)" in the system odbcinst.ini with the
# entry BUILD_DIR generated (our driver in front of the SQLite ODBC driver, our
# setup library), when it is not registered yet; a registration of this build's setup
# library that names another driver (an earlier build's) is brought up to date.
# Other drivers are not touched. A registration that names another setup
# library is left alone, with a note: it may be a deliberate choice.
set -euo pipefail

if [ $# -ne 1 ]; then
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
fi
entry="$1/odbcinst-entry.ini"
driver="Microsoft Access Driver (*.mdb)"

if [ ! -f "$entry" ]; then
    echo "$entry is missing: configure and build first" >&2
    exit 1
fi
want=$(sed -n 's/^Setup=//p' "$entry")
want_driver=$(sed -n 's/^Driver=//p' "$entry")

# odbcinst -q -d -n prints the entry as unixODBC reads it (or fails when absent).
if current=$(odbcinst -q -d -n "$driver" 2>/dev/null); then
    have=$(printf '%s\n' "$current" | sed -n 's/^Setup[[:space:]]*=[[:space:]]*//p' | head -n 1)
    have_driver=$(printf '%s\n' "$current" | sed -n 's/^Driver[[:space:]]*=[[:space:]]*//p' | head -n 1)
    if [ "$have" = "$want" ] && [ "$have_driver" = "$want_driver" ]; then
        exit 0
    fi
    if [ "$have" = "$want" ]; then
        # Ours, from before the driver was: replaced whole, so UsageCount stays 1.
        for _ in $(seq 1000); do
            odbcinst -q -d -n "$driver" >/dev/null 2>&1 || break
            odbcinst -u -d -n "$driver" >/dev/null
        done
        odbcinst -i -d -f "$entry" >/dev/null
        echo "Updated \"$driver\" to the driver $want_driver"
        exit 0
    fi
    echo "\"$driver\" is already registered in $(odbcinst -j | sed -n 's/^DRIVERS[^:]*:[[:space:]]*//p')" \
         "with Setup=${have:-(none)}; left as it is. To use this build's setup library, set its Setup= to $want" >&2
    exit 0
fi

odbcinst -i -d -f "$entry" >/dev/null
echo "Registered \"$driver\" (setup library $want)"
