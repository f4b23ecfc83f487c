#!/usr/bin/python3
"""The desktop cases, run in a user's test session inside the VM.

Usage: cases.py alice|bob STATE_DIR

Tarnwick and the polkit agent are started as this user's programs in this
session; the window's fields are filled and Create pressed with xdotool (real
X input events), and the agent's dialog is answered the same way. What the
window's log says, and what the dialog says, is read through AT-SPI. Each
case appends one PASS or FAIL line with its evidence to STATE_DIR/results.txt
and leaves screenshots in STATE_DIR.
"""

import hashlib
import os
import re
import subprocess
import sys
import time

import pyatspi

USER = sys.argv[1]
STATE = sys.argv[2]
HOME = os.path.expanduser("~")
DATABASE = os.path.join(HOME, "Access", "dates.mdb")
DIRECTORY = os.path.dirname(DATABASE)
ODBC_INI = "/etc/odbc.ini"
AGENT = "/usr/bin/lxqt-policykit-agent"
# Software emulation is slow: generous, but bounded, waits.
SLOW = 180
SUCCESS = "System DSN created successfully!"
# LXQt's agent ends a cancelled dialog as it ends a wrong password: it shows
# "Authorization failed" and completes the request without obtaining an
# authorization, rather than reporting the cancellation to polkit. So pkexec
# answers "not authorized" (127), not "dismissed" (126), in both cases.
NOT_AUTHORIZED = "ODBC Error 11: Not authorized"

processes = []


def note(message):
    print(time.strftime("%H:%M:%S"), message, flush=True)


def result(ok, name, evidence):
    line = "%s %s [%s]: %s" % ("PASS" if ok else "FAIL", name, USER, one_line(evidence))
    note(line)
    with open(os.path.join(STATE, "results.txt"), "a") as out:
        out.write(line + "\n")
    return ok


def one_line(text):
    return " | ".join(part.strip() for part in str(text).splitlines() if part.strip())


def odbc_ini_hash():
    try:
        with open(ODBC_INI, "rb") as ini:
            return hashlib.sha256(ini.read()).hexdigest()
    except FileNotFoundError:
        return "absent"


def odbc_ini_sections():
    try:
        with open(ODBC_INI, encoding="utf-8", errors="replace") as ini:
            return re.findall(r"^\s*\[([^\]]+)\]", ini.read(), re.M)
    except FileNotFoundError:
        return []


def odbc_ini_section(name):
    with open(ODBC_INI, encoding="utf-8", errors="replace") as ini:
        text = ini.read()
    match = re.search(r"^\[%s\]\n(.*?)(?=^\[|\Z)" % re.escape(name), text, re.M | re.S)
    return match.group(1) if match else ""


# --- X input ----------------------------------------------------------------

def xdotool(*args):
    done = subprocess.run(["xdotool", *map(str, args)], capture_output=True, text=True, timeout=60)
    return done.stdout


def click(point):
    xdotool("mousemove", "--sync", point[0], point[1])
    time.sleep(0.3)
    xdotool("click", "1")
    time.sleep(0.5)


def type_text(text):
    xdotool("type", "--delay", "80", text)


def key(*names):
    xdotool("key", "--delay", "80", *names)


def visible_windows(pid):
    return xdotool("search", "--onlyvisible", "--pid", pid).split()


def screenshot(name):
    path = os.path.join(STATE, name + ".png")
    subprocess.run(["import", "-window", "root", path], timeout=120)
    note("screenshot " + path)


# --- AT-SPI -----------------------------------------------------------------

def application(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for index in range(desktop.childCount):
        try:
            app = desktop.getChildAtIndex(index)
            if app is not None and app.get_process_id() == pid:
                return app
        except Exception:
            continue
    return None


def descendants(accessible):
    stack = [accessible]
    while stack:
        current = stack.pop()
        if current is None:
            continue
        yield current
        try:
            stack.extend(reversed([current.getChildAtIndex(i) for i in range(current.childCount)]))
        except Exception:
            pass


def showing(accessible):
    try:
        return accessible.getState().contains(pyatspi.STATE_SHOWING)
    except Exception:
        return False


def find(app, role, name=None):
    for accessible in descendants(app):
        try:
            if accessible.getRole() == role and (name is None or accessible.name == name) and showing(accessible):
                return accessible
        except Exception:
            continue
    return None


def find_named(app, name):
    for accessible in descendants(app):
        try:
            if accessible.name == name and showing(accessible):
                return accessible
        except Exception:
            continue
    return None


def text_of(accessible):
    try:
        text = accessible.queryText()
        return text.getText(0, text.characterCount)
    except Exception:
        return accessible.name or ""


def centre(accessible):
    extents = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return extents.x + extents.width // 2, extents.y + extents.height // 2


def wait(what, probe, timeout=SLOW, step=1.0):
    """Returns probe()'s first true value within timeout seconds, else None."""
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            note("gave up waiting for " + what)
            return None
        time.sleep(step)


# --- The programs -----------------------------------------------------------

def start(argv, name):
    log = open(os.path.join(STATE, name + ".log"), "a")
    process = subprocess.Popen(argv, cwd=HOME, stdout=log, stderr=subprocess.STDOUT)
    processes.append(process)
    note("started %s, pid %d" % (" ".join(argv), process.pid))
    return process


def stop(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(20)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class Window:
    """Tarnwick's window, found through AT-SPI by the process's id."""

    def __init__(self):
        self.process = start(["tarnwick"], "tarnwick")
        self.app = wait("Tarnwick's window", self._ready)
        if self.app is None:
            raise RuntimeError("Tarnwick's window did not appear on AT-SPI within %d s" % SLOW)

    def _ready(self):
        if not visible_windows(self.process.pid):
            return None
        app = application(self.process.pid)
        if app is not None and find(app, pyatspi.ROLE_PUSH_BUTTON, "Create") is not None:
            return app
        return None

    def field(self, label):
        for role in (pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY):
            accessible = find(self.app, role, label)
            if accessible is not None:
                return accessible
        raise RuntimeError("no text field named %r on AT-SPI" % label)

    def set_field(self, label, value):
        field = self.field(label)
        click(centre(field))
        key("ctrl+a")
        type_text(value)
        if not wait("%s to read %r" % (label, value), lambda: text_of(field) == value, 30, 0.5):
            raise RuntimeError("the field %r reads %r after typing %r" % (label, text_of(field), value))

    def fill(self, dsn):
        self.set_field("Database File Name", DATABASE)
        self.set_field("DSN Name", dsn)
        self.set_field("Directory for Database", DIRECTORY)

    def set_dsn(self, dsn):
        self.set_field("DSN Name", dsn)

    def press_create(self):
        click(centre(find(self.app, pyatspi.ROLE_PUSH_BUTTON, "Create")))

    def log(self):
        memo = find_named(self.app, "Message log")
        return text_of(memo) if memo is not None else ""

    def wait_outcome(self, timeout=SLOW, watch=None):
        """Waits for the log's outcome (success or an ODBC error record),
        calling watch() at each step; returns the log's text, settled."""
        def outcome():
            if watch is not None:
                watch()
            text = self.log()
            return text if (SUCCESS in text or "ODBC Error" in text) else None
        text = wait("the log's outcome", outcome, timeout)
        if text is None:
            return self.log()
        # The records of one failure arrive together: wait until the text settles.
        while True:
            time.sleep(2)
            again = self.log()
            if again == text:
                return text
            text = again

    def close(self):
        stop(self.process)


class Agent:
    def __init__(self):
        self.process = start([AGENT], "agent")
        # The agent registers with polkitd for this session shortly after it
        # starts; its process and its AT-SPI application are there by then.
        if not wait("the agent on AT-SPI", lambda: application(self.process.pid), SLOW):
            raise RuntimeError("the polkit agent did not appear on AT-SPI")
        time.sleep(10)
        if self.process.poll() is not None:
            raise RuntimeError("the polkit agent exited with %s" % self.process.returncode)

    def dialogs(self):
        return visible_windows(self.process.pid)

    def wait_dialog(self, timeout=SLOW):
        return wait("the agent's dialog", lambda: self.dialogs() and self._password_field(), timeout)

    def _password_field(self):
        app = application(self.process.pid)
        if app is None:
            return None
        return (find(app, pyatspi.ROLE_PASSWORD_TEXT) or find(app, pyatspi.ROLE_TEXT)
                or find(app, pyatspi.ROLE_ENTRY))

    def describe(self):
        """The dialog's title and texts as the user sees them."""
        parts = []
        for window in self.dialogs():
            parts.append("title %r" % xdotool("getwindowname", window).strip())
        app = application(self.process.pid)
        for accessible in descendants(app) if app is not None else []:
            try:
                role = accessible.getRole()
            except Exception:
                continue
            if not showing(accessible):
                continue
            if role in (pyatspi.ROLE_LABEL, pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_STATIC):
                text = text_of(accessible) or accessible.name
                if text.strip():
                    parts.append("%s %r" % (accessible.getRoleName(), text.strip()))
        return "; ".join(parts)

    def wait_titled(self, title, timeout=SLOW):
        def titled():
            return [w for w in self.dialogs() if xdotool("getwindowname", w).strip() == title]
        return wait("the agent's window %r" % title, titled, timeout)

    def acknowledge_failure(self, seen, when, shot):
        """Waits for the agent's "Authorization Failed" box, notes and
        screenshots it, and presses its OK; false when none appeared."""
        if not self.wait_titled("Authorization Failed"):
            seen.append(when + " no failure box appeared")
            return False
        seen.append(when + ": " + self.describe())
        screenshot(shot)
        self.press("OK")
        return True

    def press(self, name):
        app = application(self.process.pid)
        button = find(app, pyatspi.ROLE_PUSH_BUTTON, name) if app is not None else None
        if button is None:
            raise RuntimeError("the agent shows no button %r on AT-SPI" % name)
        click(centre(button))

    def answer(self, password):
        field = self._password_field()
        click(centre(field))
        type_text(password)
        key("Return")

    def cancel(self):
        self.press("Cancel")

    def close(self):
        stop(self.process)


def isql(dsn, statement):
    done = subprocess.run(["isql", "-b", "-v", dsn], input=statement + "\n", capture_output=True,
                          text=True, timeout=120)
    return done.returncode, (done.stdout + done.stderr).strip()


# --- The cases --------------------------------------------------------------

def case_session():
    session = os.environ.get("XDG_SESSION_ID", "")
    # The session becomes the active one as its virtual console comes to the
    # front: allow it a moment.
    wait("session %s to be active" % session, lambda: subprocess.run(
        ["loginctl", "show-session", session, "-p", "Active", "--value"],
        capture_output=True, text=True).stdout.strip() == "yes", 30)
    shown = subprocess.run(["loginctl", "show-session", session, "-p", "Name", "-p", "Seat", "-p", "VTNr",
                            "-p", "Type", "-p", "Class", "-p", "Active", "-p", "Remote"],
                           capture_output=True, text=True).stdout
    props = dict(line.split("=", 1) for line in shown.splitlines() if "=" in line)
    ok = (props.get("Active") == "yes" and props.get("Remote") == "no" and props.get("Seat") == "seat0"
          and props.get("Name") == USER)
    return result(ok, "logind session %s" % session, " ".join("%s=%s" % kv for kv in sorted(props.items())))


# --- The attempts -------------------------------------------------------------
#
# One row per press of Create, in order: who presses it, the DSN name typed
# (the first row of a window fills all three fields, a row with same_window
# only retypes the DSN name in the window before), how the agent's dialog is
# answered, and what the window's log must then say. A row that expects
# success must change /etc/odbc.ini and give a data source that isql reads
# the fixture through; any other must leave the file byte for byte as it was
# and the name absent.

NO_AGENT = "no agent running"      # before any agent runs: no dialog can appear
WRONG = "a wrong password"         # then the agent's "Authorization Failed" box, OK
CANCEL = "Cancel"                  # likewise
PASSWORD = "alice's password"
NO_DIALOG = "no dialog"            # within polkit's keep period: none may appear


class Attempt:
    def __init__(self, name, user, dsn, answer, expect, same_window=False, dialog_names=None):
        self.name, self.user, self.dsn, self.answer, self.expect = name, user, dsn, answer, expect
        self.same_window, self.dialog_names = same_window, dialog_names


ATTEMPTS = [
    Attempt("no agent running", "alice", "TarnwickNoAgent", NO_AGENT,
            "ODBC Error 11: No authentication agent is running"),
    Attempt("wrong password", "alice", "TarnwickWrong", WRONG, NOT_AUTHORIZED),
    Attempt("then Cancel, same window", "alice", "TarnwickWrong", CANCEL, NOT_AUTHORIZED, same_window=True),
    Attempt("create with alice's password", "alice", "TarnwickDates", PASSWORD, SUCCESS),
    Attempt("second Create within the keep period", "alice", "TarnwickKept", NO_DIALOG, SUCCESS,
            same_window=True),
    # polkit asks for an administrator: Debian's rules name the group sudo,
    # whose one member is alice.
    Attempt("bob, outside sudo, asked for an administrator and cancels", "bob", "TarnwickBob", CANCEL,
            NOT_AUTHORIZED, dialog_names="unix-user:alice"),
]


def attempt(row, window, agent, password):
    """Presses Create as the row says, answers the dialog, and reports."""
    before = odbc_ini_hash()
    if row.same_window:
        window.set_dsn(row.dsn)
    else:
        window.fill(row.dsn)
    seen = []
    shot = re.sub(r"\W+", "-", row.name)
    window.press_create()
    if row.answer in (NO_AGENT, NO_DIALOG):
        def watch():
            if agent is not None and agent.dialogs() and not seen:
                seen.append("unexpected dialog: " + agent.describe())
                screenshot(shot + "-unexpected-dialog")
        text = window.wait_outcome(watch=watch)
        answered = not seen
    elif not agent.wait_dialog():
        seen.append("no agent dialog appeared")
        text = window.log()
        answered = False
    else:
        described = agent.describe()
        seen.append("dialog: " + described)
        screenshot(shot + "-dialog")
        answered = row.dialog_names is None or row.dialog_names in described
        if row.answer == PASSWORD:
            agent.answer(password)
        else:
            if row.answer == WRONG:
                agent.answer(password + "-wrong")
            else:
                agent.cancel()
            answered &= agent.acknowledge_failure(seen, "after " + row.answer, shot + "-failure-box")
        text = window.wait_outcome()
    screenshot(shot + "-window")
    after = odbc_ini_hash()
    sections = odbc_ini_sections()
    ok = answered and row.expect in text
    evidence = "%s; log %r; odbc.ini sha256 before %s after %s" % ("; ".join(seen) or "no dialog",
                                                                  one_line(text), before, after)
    if row.expect == SUCCESS:
        section = odbc_ini_section(row.dsn) if row.dsn in sections else ""
        status, output = isql(row.dsn, "select count(*) from DateTest")
        ok = (ok and "ODBC Error" not in text and before != after
              and re.search(r"^\s*Database\s*=\s*%s\s*$" % re.escape(DATABASE), section, re.M) is not None
              and status == 0 and re.search(r"(^|\|)\s*6\s*(\||$)", output, re.M) is not None)
        evidence += "; [%s] %r; isql exit %d: %r" % (row.dsn, one_line(section), status, one_line(output))
    else:
        ok = ok and SUCCESS not in text and before == after and row.dsn not in sections
    return result(ok, row.name, evidence)


def run_attempts(password):
    window = agent = None
    try:
        for row in (r for r in ATTEMPTS if r.user == USER):
            try:
                if row.answer != NO_AGENT and agent is None:
                    agent = Agent()
                if window is None or not row.same_window:
                    if window is not None:
                        window.close()
                    window = Window()
                attempt(row, window, agent, password)
            except Exception as error:
                screenshot("error-" + re.sub(r"\W+", "-", row.name))
                result(False, row.name, "%s: %s" % (type(error).__name__, error))
    finally:
        if window is not None:
            window.close()


def guarded(name, function, *args):
    try:
        return function(*args)
    except Exception as error:
        screenshot("error-" + re.sub(r"\W+", "-", name))
        return result(False, name, "%s: %s" % (type(error).__name__, error))


def main():
    note("cases for %s, DISPLAY %s" % (USER, os.environ.get("DISPLAY")))
    guarded("logind session", case_session)
    try:
        password = None
        if USER == "alice":
            with open(os.path.join(STATE, "password")) as secret:
                password = secret.read().strip()
        run_attempts(password)
    except Exception as error:
        screenshot("error-" + USER)
        result(False, "the session's set-up", "%s: %s" % (type(error).__name__, error))
    finally:
        for process in processes:
            stop(process)


if __name__ == "__main__":
    main()
