#!/usr/bin/python3
"""Drives BackupRecordings as a screen reader would, over AT-SPI.

Usage: atspi_backup.py BACKUP_RECORDINGS

Runs inside an X server (DISPLAY) with RAVEK_REGISTRY pointing at an English installation whose
male voice has recordings. Starts the AT-SPI bus and the program, finds its controls by role and
name, presses the start button and reads the success text from the label described "Progress".
Exits 0 when all of it works; prints what went wrong otherwise.
"""
import os
import subprocess
import sys
import time

LAUNCHER = "/usr/libexec/at-spi-bus-launcher"


def wait_for(what, predicate, timeout=20.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


def walk(node, depth=0):
    yield node
    if depth > 30:
        return
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child, depth + 1)


def find(app, role, name=None, description=None):
    for node in walk(app):
        try:
            if node.getRoleName() != role:
                continue
            if name is not None and node.name != name:
                continue
            if description is not None and node.description != description:
                continue
            return node
        except Exception:  # a node that went away while we looked
            continue
    return None


def press(node):
    action = node.queryAction()
    for i in range(action.nActions):
        if action.getName(i) in ("Press", "press", "click"):
            action.doAction(i)
            return
    action.doAction(0)


def main():
    program = sys.argv[1]
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
    launcher = subprocess.Popen([LAUNCHER, "--launch-immediately"], env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    app_process = None
    try:
        import gi
        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi  # noqa: F401  (pyatspi needs the typelib)
        import pyatspi

        def a11y_bus_up():
            try:
                out = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus",
                                      "/org/a11y/bus", "org.a11y.Bus.GetAddress"],
                                     capture_output=True, text=True, timeout=2)
                return out.returncode == 0
            except subprocess.TimeoutExpired:
                return False

        wait_for("the AT-SPI bus", a11y_bus_up)
        app_process = subprocess.Popen([program], env=env)
        desktop = pyatspi.Registry.getDesktop(0)

        def backup_app():
            for i in range(desktop.childCount):
                app = desktop.getChildAtIndex(i)
                if app is not None and app.name == "BackupRecordings":
                    return app
            return None

        app = wait_for("BackupRecordings on the AT-SPI bus", backup_app)
        # The English captions as the string table has them ("Srart" included).
        wait_for("the window's controls", lambda: find(app, "push button", "Srart"))
        controls = [("frame", "Pack Recordings Bundle"), ("push button", "Srart"), ("push button", "Close"),
                    ("push button", "Change ..."), ("radio button", "Tovel"), ("radio button", "Nevi"),
                    ("text", "Archive file"), ("list", "Log")]
        missing = [c for c in controls if find(app, *c) is None]
        if missing:
            for node in walk(app):
                print("  %s %r %r" % (node.getRoleName(), node.name, node.description))
            raise AssertionError("controls missing: %r" % missing)
        progress = find(app, "label", description="Progress")
        assert progress is not None, "no Progress label"
        press(find(app, "push button", "Srart"))
        wait_for("the success status",
                 lambda: progress.name.startswith("Compression completed successfully."), 30)
        print("AT-SPI: every control found; Start packed the recordings; status read: %r" % progress.name)
        return 0
    finally:
        for process in (app_process, launcher):
            if process is not None:
                process.terminate()
                try:
                    process.wait(5)
                except subprocess.TimeoutExpired:
                    process.kill()


if __name__ == "__main__":
    sys.exit(main())
