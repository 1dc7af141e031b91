#!/usr/bin/python3
"""Drives EngineTester as a screen reader would, over AT-SPI.

Usage: atspi_tester.py ENGINE_TESTER

Runs inside an X server (DISPLAY) with DBUS_SESSION_BUS_ADDRESS set to a bus that starts the
engine. Starts the AT-SPI bus and EngineTester, then: lists every control by role and name,
types a sentence into "Text", presses "Say" and reads "Speech Ended." from the label described
"Message", opens the voice count message box and closes it with its OK button. Exits 0 when all
of it works; prints what went wrong otherwise.
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
    tester = sys.argv[1]
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
        app_process = subprocess.Popen([tester], env=env)
        desktop = pyatspi.Registry.getDesktop(0)

        def tester_app():
            for i in range(desktop.childCount):
                app = desktop.getChildAtIndex(i)
                if app is not None and app.name == "EngineTester":
                    return app
            return None

        app = wait_for("EngineTester on the AT-SPI bus", tester_app)
        wait_for("the window's controls", lambda: find(app, "push button", "Say"))

        # Every control is there with its role and name (text boxes named by their labels).
        controls = [("frame", "Engine Tester"), ("push button", "Say"), ("push button", "Stop And Say"),
                    ("push button", "Get Number of Voices"), ("push button", "get Voice Name"),
                    ("push button", "SelectVoice"), ("push button", "Get Number of Words in selected voice"),
                    ("push button", "Create File with all works of selected voice"),
                    ("push button", "Analyze Dictionary File"), ("panel", "Voice selection"),
                    ("text", "Text"), ("text", "Log"), ("text", "Voice Number"), ("text", "Volume"),
                    ("label", "WordIndex"), ("label", "Voice Number"), ("label", "Volume"),
                    ("label", "Label2"), ("label", "Label4")]
        missing = [c for c in controls if find(app, *c) is None]
        if missing:
            for node in walk(app):
                print("  %s %r %r" % (node.getRoleName(), node.name, node.description))
            raise AssertionError("controls missing: %r" % missing)
        message = find(app, "label", description="Message")
        word_index = find(app, "label", description="WordIndex")
        assert message is not None and word_index is not None, "no Message or WordIndex label"
        wait_for("the engine to be ready", lambda: message.name.startswith("Ready to speech"), 30)

        # Type a sentence, press Say, hear the end of speech through the Message label.
        text = find(app, "text", "Text")
        text.queryEditableText().setTextContents("שלום עולם")
        press(find(app, "push button", "Say"))
        wait_for("a word index", lambda: word_index.name != "")
        wait_for('"Speech Ended."', lambda: message.name == "Speech Ended.", 30)

        # A message box is an ordinary accessible dialog with its text and an OK button.
        press(find(app, "push button", "Get Number of Voices"))

        def box():
            for node in walk(app):
                if node.getRoleName() in ("dialog", "alert") and find(node, "label", "Number of Voices 4"):
                    return node
            return None

        dialog = wait_for("the voice count message box", box)
        press(find(dialog, "push button", "OK"))
        wait_for("the message box to close", lambda: box() is None)
        print("AT-SPI: every control found; Say spoke and ended; the message box was read and closed")
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
