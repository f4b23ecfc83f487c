#!/usr/bin/env python3
"""Usage: under_x.py COMMAND [ARG...]

Runs COMMAND on Qt's xcb platform against an X server of its own, so that
input reaches the window as it does on a desktop: through the X connection,
queued by Qt."""
import os
import subprocess
import sys

from x_server import start_x_server


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    server, display = start_x_server()
    try:
        env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb")
        return subprocess.run(sys.argv[1:], env=env).returncode
    finally:
        server.kill()
        server.wait()


if __name__ == "__main__":
    sys.exit(main())
