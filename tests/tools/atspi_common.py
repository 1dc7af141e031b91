"""What the screen-reader tests share: starting the AT-SPI bus and a program with Qt's
accessibility bridge, and finding, reading and pressing its controls as a screen reader does."""
import contextlib
import os
import subprocess
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


def require_controls(app, controls, missing=()):
    """Fails, listing what the screen reader sees, unless every (role, name) control is there."""
    missing = [c for c in controls if find(app, *c) is None] + list(missing)
    if missing:
        for node in walk(app):
            print("  %s %r %r" % (node.getRoleName(), node.name, node.description))
        raise AssertionError("controls missing: %r" % missing)


def _a11y_bus_up():
    try:
        out = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus",
                              "/org/a11y/bus", "org.a11y.Bus.GetAddress"],
                             capture_output=True, text=True, timeout=2)
        return out.returncode == 0
    except subprocess.TimeoutExpired:
        return False


@contextlib.contextmanager
def accessible_program(program, app_name, timeout=20.0):
    """Starts the AT-SPI bus and `program`, and yields its application node once it is on the
    bus; both processes end with the block."""
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
    launcher = subprocess.Popen([LAUNCHER, "--launch-immediately"], env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    app_process = None
    try:
        import gi
        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi  # noqa: F401  (pyatspi needs the typelib)
        import pyatspi

        wait_for("the AT-SPI bus", _a11y_bus_up)
        app_process = subprocess.Popen([program], env=env)
        desktop = pyatspi.Registry.getDesktop(0)

        def started():
            if app_process.poll() is not None:
                raise AssertionError("%s ended with status %d" % (app_name, app_process.returncode))
            for i in range(desktop.childCount):
                app = desktop.getChildAtIndex(i)
                if app is not None and app.name == app_name:
                    return app
            return None

        yield wait_for(app_name + " on the AT-SPI bus", started, timeout)
    finally:
        for process in (app_process, launcher):
            if process is not None:
                process.terminate()
                try:
                    process.wait(5)
                except subprocess.TimeoutExpired:
                    process.kill()
