#!/bin/bash
# Runs as root in the test VM (tarnwick-vm-test.service). alice is logged in
# on tty1 by getty's autologin, and her login starts session.sh; when her
# cases are done this logs bob in on tty2 and switches to it, so that his
# session is the active one on seat0, and waits for his. Every result line
# goes to the second serial port as it is written, which the host reads;
# then the journal and /etc/odbc.ini are kept beside the results and the VM
# powers off.
set -u
results=/dev/ttyS1
state=/var/lib/tarnwick-vm
stty -F "$results" raw -echo 115200 2>/dev/null
report() { printf '%s\n' "$*" >"$results"; }

# Waits up to $2 seconds for the file $1.
wait_for() {
    local waited=0
    while [ ! -e "$1" ] && [ "$waited" -lt "$2" ]; do
        sleep 2
        waited=$((waited + 2))
    done
    [ -e "$1" ]
}

report "INFO VM up after $(cut -d' ' -f1 /proc/uptime) s: $(uname -r), $(nproc) CPUs"
for user in alice bob; do
    touch "$state/$user/results.txt"
    chown "$user:$user" "$state/$user/results.txt"
done
tail -n +1 -F "$state/alice/results.txt" "$state/bob/results.txt" -q 2>/dev/null >"$results" &
tail_pid=$!

if ! wait_for "$state/alice/done" 1000; then
    report "FAIL alice's session: no result within 1000 s of boot (see tarnwick-vm/alice/session.log)"
fi
# bob's turn: virtual console 2 comes to the front (VT_ACTIVATE and
# VT_WAITACTIVE, as chvt does; the image has no kbd), so his login there is
# seat0's active session.
python3 -c '
import fcntl, os
console = os.open("/dev/tty0", os.O_RDWR)
fcntl.ioctl(console, 0x5606, 2)
fcntl.ioctl(console, 0x5607, 2)
' || report "FAIL switching to tty2"
systemctl start getty@tty2.service
if ! wait_for "$state/bob/done" 400; then
    report "FAIL bob's session: no result within 400 s (see tarnwick-vm/bob/session.log)"
fi
sleep 3
kill "$tail_pid" 2>/dev/null
journalctl -b --no-pager >"$state/journal.txt" 2>&1
cp /etc/odbc.ini "$state/odbc.ini" 2>/dev/null
loginctl list-sessions --no-pager >"$state/sessions.txt" 2>&1
report "END of the desktop VM cases after $(cut -d' ' -f1 /proc/uptime) s"
sync
systemctl poweroff
