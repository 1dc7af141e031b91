#!/usr/bin/python3
"""Drives VoiceCheck as a screen reader would, over AT-SPI.

Usage: atspi_voicecheck.py VOICECHECK

Runs inside an X server (DISPLAY) and a session bus, with RAVEK_REGISTRY pointing at a Hebrew
installation. Starts the AT-SPI bus and VoiceCheck, then: finds every control by role and name
(the drop-downs and check boxes through the labels that name them), types 1 into the log level's
drop-down and presses Save. Exits 0 when all of it works; prints what went wrong otherwise. The
caller reads the saved value from the registry file.
"""
import os
import subprocess
import sys
import time

LAUNCHER = "/usr/libexec/at-spi-bus-launcher"


def wait_for(what, predicate, timeout=60.0):
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


def find(app, role, name=None):
    for node in walk(app):
        try:
            if node.getRoleName() == role and (name is None or node.name == name):
                return node
        except Exception:  # a node that went away while we looked
            continue
    return None


def labelled_by(app, role, label_text):
    """The control of a role whose "labelled by" relation names a label with that text."""
    import pyatspi
    for node in walk(app):
        try:
            if node.getRoleName() != role:
                continue
            for relation in node.getRelationSet():
                if relation.getRelationType() != pyatspi.RELATION_LABELLED_BY:
                    continue
                for i in range(relation.getNTargets()):
                    if relation.getTarget(i).name.strip() == label_text:
                        return node
        except Exception:
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

        def voicecheck_app():
            for i in range(desktop.childCount):
                app = desktop.getChildAtIndex(i)
                if app is not None and app.name == "VoiceCheck":
                    return app
            return None

        def started():
            if app_process.poll() is not None:
                raise AssertionError("VoiceCheck ended with status %d" % app_process.returncode)
            return voicecheck_app()

        app = wait_for("VoiceCheck on the AT-SPI bus", started)
        wait_for("the window's controls", lambda: find(app, "push button", "שמור"))

        controls = [("frame", "Tolvin + - חלון בקרה"), ("push button", "שמור"), ("push button", "סגור"),
                    ("push button", "קובץ לוג"), ("menu item", "יותר פרטים"), ("menu item", "אודות"),
                    ("label", "רמת איסוף נתונים"), ("label", "אורך רצף מקסימלי"), ("label", "השמעת מילים חסרות"),
                    ("label", "סטטוס תקין"), ("label", "הקלטות בן-תקין"), ("label", "הקלטות בת-תקין"),
                    ("check box", "הקצאת משמות קצרים")]
        missing = [c for c in controls if find(app, *c) is None]
        labelled = [("combo box", "רמת איסוף נתונים"), ("combo box", "אורך רצף מקסימלי"),
                    ("combo box", "השמעת מילים חסרות"), ("check box", "MP3 המרת קבצי"),
                    ("check box", "הקצאת משמות קצרים")]
        missing += [c for c in labelled if labelled_by(app, *c) is None]
        if missing:
            print("controls missing: %r" % missing)
            for node in walk(app):
                print("  %s %r %r" % (node.getRoleName(), node.name, node.description))
            raise AssertionError("controls missing: %r" % missing)

        # A new log level typed into its drop-down, then Save.
        log_level = labelled_by(app, "combo box", "רמת איסוף נתונים")
        text = find(log_level, "text")
        assert text is not None, "the log level's drop-down has no text to edit"
        text.queryEditableText().setTextContents("1")
        wait_for("the new log level", lambda: text.queryText().getText(0, -1) == "1")
        press(find(app, "push button", "שמור"))
        registry = os.environ["RAVEK_REGISTRY"]

        def saved():
            with open(registry, "rb") as f:
                return b'"LogLevel"="1"' in f.read()

        wait_for("the log level in " + registry, saved)
        print("AT-SPI: every control found by its name or label; the log level typed and saved")
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
