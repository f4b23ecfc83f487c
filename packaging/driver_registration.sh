# Registration of the Access driver in odbcinst.ini, shared by the maintainer
# scripts. odbcinst honours ODBCSYSINI, so the same scripts can be pointed at a
# sandbox ODBC directory instead of /etc.
driver_name='Microsoft Access Driver (*.mdb)'
driver_entry="${DPKG_ROOT:-}@TARNWICK_PKG_ENTRY@"
setup_library='@TARNWICK_PKG_SETUP@'

# Installing into another root (dpkg --root) registers the driver there.
if [ -n "${DPKG_ROOT:-}" ] && [ -z "${ODBCSYSINI:-}" ]; then
    ODBCSYSINI="$DPKG_ROOT/etc"
    export ODBCSYSINI
fi

# The Setup= library of the registered driver; empty when there is none.
registered_setup() {
    odbcinst -q -d -n "$driver_name" 2>/dev/null |
        sed -n 's/^[[:space:]]*[Ss][Ee][Tt][Uu][Pp][[:space:]]*=[[:space:]]*//p' |
        sed 's/[[:space:]]*$//' | head -n 1
}

# odbcinst -u only lowers the driver's UsageCount and drops the entry when it
# reaches zero; repeat until it is gone, bounded in case the count is damaged.
# Other drivers' entries are left as they are.
unregister_driver() {
    tries=0
    while odbcinst -q -d -n "$driver_name" >/dev/null 2>&1; do
        tries=$((tries + 1))
        if [ "$tries" -gt 1000 ]; then
            echo "tarnwick: cannot remove the ODBC driver \"$driver_name\" from odbcinst.ini" >&2
            return 1
        fi
        odbcinst -u -d -n "$driver_name" >/dev/null
    done
}

# Replacing rather than adding keeps UsageCount at 1 however often this runs
# (reinstalls, upgrades), so a single removal takes the entry away again.
register_driver() {
    unregister_driver
    odbcinst -i -d -f "$driver_entry" >/dev/null
}

# Only an entry that still names our setup library is ours to remove; one that
# an administrator has pointed elsewhere since is left alone.
unregister_own_driver() {
    command -v odbcinst >/dev/null 2>&1 || return 0
    if [ "$(registered_setup)" = "$setup_library" ]; then
        unregister_driver
    fi
}
