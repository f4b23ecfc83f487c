#!/usr/bin/env python3
"""Usage: under_x.py COMMAND [ARG...]

Runs COMMAND on Qt's xcb platform against an X server of its own (Xvfb picks
a free display number and says which), so that input reaches the window as it
does on a desktop: through the X connection, queued by Qt."""
import os
import subprocess
import sys


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    read_end, write_end = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-screen", "0", "640x480x24"],
        pass_fds=(write_end,), stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as answer:
        number = answer.readline().strip()
    try:
        if not number:
            print("Xvfb did not start", file=sys.stderr)
            return 1
        env = dict(os.environ, DISPLAY=":" + number, QT_QPA_PLATFORM="xcb")
        return subprocess.run(sys.argv[1:], env=env).returncode
    finally:
        server.kill()
        server.wait()


if __name__ == "__main__":
    sys.exit(main())
