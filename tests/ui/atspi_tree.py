#!/usr/bin/python3
"""Usage: atspi_tree.py PROGRAM

Reads the running program's accessibility tree through the real AT-SPI bus,
as a screen reader does, and checks what it would say for the window's
controls: each field by its label, the log by its name, and the two Browse
buttons by what each browses for. Runs itself again in a session bus of its
own (dbus-run-session), which activates the AT-SPI bus and registry, with a
runtime folder of its own for the AT-SPI bus's socket, and starts its own X
server on a display number the server picks itself (-displayfd), so that
runs at the same time never share a bus or a display.
"""
import os
import subprocess
import sys
import tempfile
import time

import pyatspi

from x_server import start_x_server

# Roles by their numbers: the names AT-SPI gives them differ between releases
# ("push button" became "button").
EXPECTED = {
    # (role, name): description
    (pyatspi.ROLE_TEXT, "Database File Name"): "",
    (pyatspi.ROLE_TEXT, "DSN Name"): "",
    (pyatspi.ROLE_TEXT, "Directory for Database"): "",
    (pyatspi.ROLE_TEXT, "Message log"): "",
    (pyatspi.ROLE_PUSH_BUTTON, "Browse"): {
        "Browse for the Access database file",
        "Browse for the directory of the database",
    },
}


def find_application(pid, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for application in desktop:
            if application is not None and application.get_process_id() == pid:
                if application.childCount > 0:
                    return application
        time.sleep(0.2)
    return None


def walk(accessible):
    yield accessible
    for child in accessible:
        if child is not None:
            yield from walk(child)


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    if os.environ.get("TARNWICK_ATSPI_SESSION") != "1":
        with tempfile.TemporaryDirectory() as runtime:
            env = dict(os.environ, XDG_RUNTIME_DIR=runtime, TARNWICK_ATSPI_SESSION="1")
            env.pop("DBUS_SESSION_BUS_ADDRESS", None)
            env.pop("DISPLAY", None)
            command = ["dbus-run-session", "--", sys.executable, os.path.abspath(__file__), sys.argv[1]]
            return subprocess.run(command, env=env).returncode
    server, display = start_x_server()
    try:
        return check(sys.argv[1], display)
    finally:
        server.terminate()
        server.wait(10)


def check(program_path, display):
    with tempfile.TemporaryDirectory() as odbc:
        for name in ("odbcinst.ini", "odbc.ini"):
            open(os.path.join(odbc, name), "w").close()
        env = dict(os.environ, DISPLAY=display, ODBCSYSINI=odbc, QT_QPA_PLATFORM="xcb",
                   QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        program = subprocess.Popen([program_path], env=env)
        try:
            application = find_application(program.pid, 30)
            if application is None:
                print("FAIL: the program never appeared on the AT-SPI bus", file=sys.stderr)
                return 1
            seen = {}
            for node in walk(application):
                key = (node.getRole(), node.name)
                seen.setdefault(key, set()).add(node.description)
        finally:
            program.terminate()
            program.wait(10)
    failed = False
    for (role, name), wanted in EXPECTED.items():
        wanted = wanted if isinstance(wanted, set) else {wanted}
        found = seen.get((role, name))
        verdict = "PASS" if found == wanted else "FAIL"
        failed |= found != wanted
        print(f"{verdict}: {role} '{name}': descriptions {sorted(found or [])}, expected {sorted(wanted)}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
