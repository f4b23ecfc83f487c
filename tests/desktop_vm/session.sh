#!/bin/bash
# The test session of a user logged in on a virtual console (tty1: alice,
# tty2: bob), started once by their ~/.profile: an X server of its own
# (Xvfb), the session bus systemd's user manager runs, accessibility turned on
# for the AT-SPI reader, and then the cases of cases.py for this user. Leaves
# "done" in its state folder at the end, whatever happened.
state=/var/lib/tarnwick-vm/$USER
touch "$state/started"
exec >"$state/session.log" 2>&1
set -x
case "$(tty)" in
    /dev/tty1) display=:1 ;;
    *) display=:2 ;;
esac
export DISPLAY=$display
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-/run/user/$(id -u)}
export DBUS_SESSION_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/bus
# Qt talks to AT-SPI only when told to, and so does the bus.
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1
env | sort
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp &
xvfb=$!
for _ in $(seq 120); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 1
done
dbus-update-activation-environment --systemd DISPLAY QT_LINUX_ACCESSIBILITY_ALWAYS_ON QT_ACCESSIBILITY
busctl --user set-property org.a11y.Bus /org/a11y/bus org.a11y.Status IsEnabled b true
python3 /usr/local/lib/tarnwick-vm/cases.py "$USER" "$state"
echo "cases.py exited with $?"
kill "$xvfb"
touch "$state/done"
