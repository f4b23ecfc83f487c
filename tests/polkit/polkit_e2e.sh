#!/usr/bin/env bash
# The real elevation path, end to end: a regular user asks for a System DSN,
# pkexec asks the real polkitd, and the privileged helper writes /etc/odbc.ini.
#
# Needs root, because it builds a private copy of the machine to do that in:
# in its own mount namespace it puts overlays on /etc, on the folder where the
# helper is installed and on /usr/share/polkit-1/actions, and a tmpfs on
# /run/dbus, then installs the built helper at its installed path, the built
# polkit action, the driver registration, an /etc/odbc.ini and a test user,
# and starts a system dbus-daemon and polkitd of its own. Two rounds, each
# with a .rules file for the action and the test user:
#   YES: the client, run as the test user, exits 0 with the program's log
#        lines, the data source is in /etc/odbc.ini (root, 0644, the other
#        contents kept, nothing else in /etc written), and isql, run as the
#        test user, reads dates.mdb through it;
#   NO:  the client exits 1 with the "not authorized" record, /etc/odbc.ini
#        is byte for byte as before and nothing in /etc was written.
# No new PID namespace: polkitd identifies the caller by its real pid. The
# namespace's mounts vanish with it; outside it, the script checks that the
# host's files are as they were before. Exit 77 (skipped) when not root, when
# a tool is missing, or when TARNWICK_POLKIT_E2E=skip.
#
# Usage: polkit_e2e.sh CLIENT HELPER HELPER_INSTALL_PATH POLICY DRIVER_ENTRY FIXTURES_DIR
# (TARNWICK_FIXTURES, when set, overrides FIXTURES_DIR.)
set -euo pipefail

readonly action_id=io.github.tarnwick.Tarnwick.create-system-dsn
readonly test_user=tarnwick-e2e
readonly polkitd=/usr/lib/polkit-1/polkitd
readonly skipped=77

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

# Prints the files and folders of the host that the test must leave alone.
host_state() {
    local file
    for file in /etc/odbc.ini /etc/odbcinst.ini /etc/passwd /etc/group /etc/shadow /etc/gshadow "$helper_install_path"; do
        if [[ -e $file ]]; then
            sha256sum "$file"
        else
            echo "absent $file"
        fi
    done
    ls -lA /etc/polkit-1/rules.d /usr/share/polkit-1/actions /run/dbus 2>&1
    getent passwd "$test_user" || true
}

# The deepest folder on the way to `path` that exists already; the helper's
# overlay goes there, so the folders it adds below exist only in the namespace.
existing_ancestor() {
    local dir=$1
    while [[ ! -d $dir ]]; do
        dir=$(dirname "$dir")
    done
    echo "$dir"
}

# Runs a command as the test user with a minimal environment. Not with
# --no-new-privs: pkexec must still become root.
as_test_user() {
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/ LANG=C.UTF-8 \
        setpriv --reuid="$test_user" --regid="$test_user" --init-groups "$@"
}

bus_has_name() {
    timeout 5 dbus-send --system --print-reply --reply-timeout=2000 --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true'
}

# Polls `condition` every 0.1 s for at most `seconds`.
wait_until() {
    local seconds=$1
    shift
    local tries=$((seconds * 10))
    while ((tries-- > 0)); do
        if "$@"; then
            return 0
        fi
        sleep 0.1
    done
    return 1
}

start_polkitd() {
    "$polkitd" --no-debug >>"$state/polkitd.log" 2>&1 &
    polkitd_pid=$!
    echo "$polkitd_pid" >>"$pid_file"
    if ! wait_until 20 bus_has_name org.freedesktop.PolicyKit1; then
        cat "$state/polkitd.log" >&2
        fail "polkitd did not appear on the system bus within 20 s"
    fi
}

stop_polkitd() {
    kill "$polkitd_pid"
    wait "$polkitd_pid" || true
    wait_until 10 eval '! bus_has_name org.freedesktop.PolicyKit1' ||
        fail "org.freedesktop.PolicyKit1 stayed on the bus after polkitd ended"
}

# A rules file that gives `result` for the action to the test user only;
# polkitd reads the rules when it starts.
write_rules() {
    local file=/etc/polkit-1/rules.d/10-tarnwick-e2e.rules
    cat >"$file" <<EOF
polkit.addRule(function(action, subject) {
    if (action.id == "$action_id" && subject.user == "$test_user") {
        return polkit.Result.$1;
    }
});
EOF
    chmod 0644 "$file"
}

# Runs the client as the test user from the fixtures' parent folder, with the
# fixtures folder named relatively: pkexec starts the helper in root's home,
# so this also checks that the data source gets the caller's folder. A strict
# umask checks that the system file keeps its mode all the same.
run_client() {
    local dsn=$1
    touch "$state/client-start"
    (
        cd "$(dirname "$fixtures")" || exit 99
        umask 077
        as_test_user timeout 60 "$client" "$dsn" "$(basename "$fixtures")"
    ) >"$state/stdout" 2>"$state/stderr" && client_status=0 || client_status=$?
    echo "--- client output ($dsn, exit $client_status):"
    cat "$state/stdout"
    echo "--- client standard error:"
    cat "$state/stderr"
}

# What the client's round changed in the namespace's /etc: each path once,
# sorted. Only odbc.ini, the writers' lock file beside it (made on the first
# write) and /etc itself (where they were made) may appear; a leftover
# temporary copy would.
etc_written_by_client() {
    find /etc -newer "$state/client-start" | sort
}

check_system_file_mode() {
    [[ $(stat -c '%u:%g %a' /etc/odbc.ini) == "0:0 644" ]] ||
        fail "/etc/odbc.ini is $(stat -c '%U:%G %a' /etc/odbc.ini), not root:root 644"
}

round_yes() {
    write_rules YES
    start_polkitd
    run_client TarnwickE2E
    ((client_status == 0)) || fail "YES round: the client exited $client_status, not 0"
    diff -u - "$state/stdout" <<'EOF' || fail "YES round: the log lines differ from the program's"
Database name: dates.mdb
DSN: TarnwickE2E
Creating System DSN...
System DSN created successfully!
EOF
    echo "--- /etc/odbc.ini:"
    cat /etc/odbc.ini
    check_system_file_mode
    diff -u <(printf '%s\n' /etc /etc/.odbc.ini.lock /etc/odbc.ini | sort) <(etc_written_by_client) ||
        fail "YES round: more than /etc/odbc.ini and its lock file were written in /etc"
    [[ $(stat -c '%u:%g %a' /etc/.odbc.ini.lock) == "0:0 600" ]] ||
        fail "/etc/.odbc.ini.lock is $(stat -c '%U:%G %a' /etc/.odbc.ini.lock), not root:root 600"
    grep -qx '\[TarnwickE2E\]' /etc/odbc.ini || fail "YES round: no [TarnwickE2E] in /etc/odbc.ini"
    grep -qxF "Database=$fixtures/dates.mdb" /etc/odbc.ini ||
        fail "YES round: /etc/odbc.ini does not name $fixtures/dates.mdb as Database"
    local line
    while IFS= read -r line; do
        grep -qxF -- "$line" /etc/odbc.ini || fail "YES round: /etc/odbc.ini lost the line '$line'"
    done <"$state/odbc.ini.before"

    echo "SELECT IDCol FROM DateTest" |
        (cd / && as_test_user timeout 30 isql -b -v TarnwickE2E) >"$state/isql" 2>&1 ||
        { cat "$state/isql"; fail "YES round: isql could not query the new data source"; }
    cat "$state/isql"
    grep -q '^6 rows fetched' "$state/isql" || fail "YES round: isql did not fetch the 6 rows of DateTest"
    stop_polkitd
}

round_no() {
    cp -p /etc/odbc.ini "$state/odbc.ini.before"
    write_rules NO
    start_polkitd
    run_client TarnwickRefused
    ((client_status == 1)) || fail "NO round: the client exited $client_status, not 1"
    head -n 3 "$state/stdout" | diff -u - <(printf '%s\n' "Database name: dates.mdb" "DSN: TarnwickRefused" \
        "Creating System DSN...") || fail "NO round: the log lines before the records differ"
    local records
    records=$(tail -n +4 "$state/stdout")
    [[ -n $records ]] || fail "NO round: no error record"
    if grep -v -E '^ ODBC Error [0-9]+: .+' <<<"$records"; then
        fail "NO round: the lines above are not error records"
    fi
    grep -qi 'not authorized' <<<"$records" || fail "NO round: no record says the user is not authorized"
    cmp "$state/odbc.ini.before" /etc/odbc.ini || fail "NO round: /etc/odbc.ini changed"
    [[ -z $(etc_written_by_client) ]] || fail "NO round: the refused request wrote $(etc_written_by_client)"
    check_system_file_mode
    stop_polkitd
}

# Inside the namespace: everything written here lives in overlays and tmpfs
# that vanish with it.
inside() {
    state=$1 pid_file=$2 client=$3 helper=$4 helper_install_path=$5 policy=$6 driver_entry=$7 fixtures=$8
    local overlays=$state/overlays
    # Global: the exit trap reads them after this function has returned.
    polkitd_pid='' dbus_pid=''
    trap 'kill $polkitd_pid $dbus_pid 2>/dev/null; wait; : >"$pid_file"' EXIT
    trap 'exit 143' TERM INT

    mount -t tmpfs tarnwick-e2e "$state"
    local helper_root
    helper_root=$(existing_ancestor "$(dirname "$helper_install_path")")
    [[ $helper_root != / ]] || fail "no folder on the way to $helper_install_path exists"
    local lower
    for lower in /etc "$helper_root" /usr/share/polkit-1/actions; do
        local layer=$overlays/${lower//\//_}
        mkdir -p "$layer/upper" "$layer/work"
        mount -t overlay tarnwick-e2e -o "lowerdir=$lower,upperdir=$layer/upper,workdir=$layer/work" "$lower"
    done
    # A machine that never ran a system bus may lack /run/dbus; the folder
    # must not appear on the host, so a tmpfs on /run holds it then.
    if [[ -d /run/dbus ]]; then
        mount -t tmpfs tarnwick-e2e /run/dbus
    else
        mount -t tmpfs tarnwick-e2e /run
        mkdir /run/dbus
    fi

    install -D -m 0755 -o root -g root "$helper" "$helper_install_path"
    install -m 0644 -o root -g root "$policy" /usr/share/polkit-1/actions/
    grep -qF "<annotate key=\"org.freedesktop.policykit.exec.path\">$helper_install_path</annotate>" "$policy" ||
        fail "the action in $policy does not name $helper_install_path"
    install -m 0644 -o root -g root "$driver_entry" /etc/odbcinst.ini
    printf '%s\n' "# System data sources" "[Existing]" "Driver=Microsoft Access Driver (*.mdb)" \
        "Database=/srv/existing.mdb" >/etc/odbc.ini
    chmod 0644 /etc/odbc.ini
    cp -p /etc/odbc.ini "$state/odbc.ini.before"
    useradd --system --no-create-home --no-log-init --user-group --home-dir / --shell /usr/sbin/nologin "$test_user"

    as_test_user test -x "$client" || fail "the test user cannot run $client"
    as_test_user test -r "$fixtures/dates.mdb" || fail "the test user cannot read $fixtures/dates.mdb"

    dbus-daemon --system --nofork --nopidfile >"$state/dbus.log" 2>&1 &
    dbus_pid=$!
    echo "$dbus_pid" >>"$pid_file"
    wait_until 20 bus_has_name org.freedesktop.DBus || { cat "$state/dbus.log" >&2; fail "no system bus within 20 s"; }

    round_yes
    round_no
    echo "PASSED: polkit answered YES and NO, and the helper did exactly what it was allowed"
}

if [[ ${1-} == --inside ]]; then
    shift
    inside "$@"
    exit 0
fi

(($# == 6)) || fail "usage: $0 CLIENT HELPER HELPER_INSTALL_PATH POLICY DRIVER_ENTRY FIXTURES_DIR"
client=$1 helper=$2 helper_install_path=$3 policy=$4 driver_entry=$5 fixtures=${TARNWICK_FIXTURES:-$6}

if [[ ${TARNWICK_POLKIT_E2E-} == skip ]]; then
    echo "Skipped: TARNWICK_POLKIT_E2E=skip"
    exit $skipped
fi
if ((EUID != 0)); then
    echo "Skipped: the real polkit test needs root (it builds a private /etc in a mount namespace)"
    exit $skipped
fi
for tool in unshare setpriv pkexec dbus-daemon dbus-send useradd isql "$polkitd"; do
    if ! command -v "$tool" >/dev/null; then
        echo "Skipped: $tool is missing (scripts/packages.txt names the packages)"
        exit $skipped
    fi
done
for file in "$client" "$helper" "$policy" "$driver_entry" "$fixtures/dates.mdb"; do
    [[ -e $file ]] || fail "$file does not exist"
done
# The client runs from another folder.
client=$(realpath "$client") helper=$(realpath "$helper") policy=$(realpath "$policy")
driver_entry=$(realpath "$driver_entry") fixtures=$(realpath "$fixtures")

scratch=$(mktemp -d /tmp/tarnwick-polkit-e2e.XXXXXX)
pid_file=$scratch/pids
: >"$pid_file"
# Ends the daemons the namespace started should it have died before it could
# (it empties the list when it ends them itself).
cleanup() {
    local pid
    while read -r pid; do
        if [[ $(cat "/proc/$pid/comm" 2>/dev/null) =~ ^(polkitd|dbus-daemon)$ ]]; then
            kill -KILL "$pid"
        fi
    done <"$pid_file"
    rm -rf "$scratch"
}
trap cleanup EXIT
mkdir "$scratch/state"
touch "$scratch/start"
host_state >"$scratch/host-before"

status=0
timeout --kill-after=10 150 unshare --mount --propagation private \
    "$BASH" "$0" --inside "$scratch/state" "$pid_file" "$client" "$helper" "$helper_install_path" "$policy" \
    "$driver_entry" "$fixtures" || status=$?

host_state >"$scratch/host-after"
diff -u "$scratch/host-before" "$scratch/host-after" || fail "the host's files changed"
changed=$(find /etc/polkit-1 /usr/share/polkit-1 /var/lib/polkit-1 /run/dbus \
    "$(existing_ancestor "$(dirname "$helper_install_path")")" /etc/odbc.ini /etc/odbcinst.ini /etc/passwd \
    -newer "$scratch/start" 2>/dev/null || true)
[[ -z $changed ]] || fail "the host's files changed: $changed"
exit "$status"
