#!/usr/bin/env bash
# Usage: make-sandbox.sh BUILD_DIR SANDBOX_DIR
#
# Makes SANDBOX_DIR an ODBC system directory for ODBCSYSINI: an odbcinst.ini that
# registers "Microsoft Access Driver (*.mdb)" with the driver and the setup
# library built in BUILD_DIR, and an odbc.ini. The odbcinst.ini is written anew each time, so
# its absolute paths follow the build; an existing odbc.ini, with the data
# sources created in the sandbox so far, is kept.
set -euo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 BUILD_DIR SANDBOX_DIR" >&2
    exit 2
fi
build=$1
sandbox=$2
entry="$build/odbcinst-entry.ini"

if [ ! -f "$entry" ]; then
    echo "$entry is missing: configure and build first (cmake -S . -B $build && cmake --build $build)" >&2
    exit 1
fi
for key in Driver Setup; do
    library=$(sed -n "s/^$key=//p" "$entry")
    if [ ! -f "$library" ]; then
        echo "The library $library ($key=) is not built yet: run cmake --build $build" >&2
        exit 1
    fi
done

mkdir -p "$sandbox"
# Written beside and renamed into place, so that a reader never sees half a file.
tmp=$(mktemp "$sandbox/.odbcinst.ini.XXXXXX")
trap 'rm -f "$tmp"' EXIT
cp "$entry" "$tmp"
chmod 0644 "$tmp"
mv -f "$tmp" "$sandbox/odbcinst.ini"
trap - EXIT

if [ ! -e "$sandbox/odbc.ini" ]; then
    : > "$sandbox/odbc.ini"
    chmod 0644 "$sandbox/odbc.ini"
fi
