"""Helpers for the whole-program tests in tests/e2e: start the built kestrel,
wait for things to happen, find its widgets through the AT-SPI accessibility
tree and act on them, and move or click the real pointer with xdotool.

Call load_pyatspi() first: the tree helpers use the module it loads.
"""
import os
import subprocess
import sys
import tempfile
import time

BIN = os.environ.get("KESTREL_BIN", os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../build/kestrel"))
TEST_TMP = os.environ.get("KESTREL_TEST_TMP") or tempfile.gettempdir()
CAPTION = "Kestrel 2.5"
SYSTEM_PYTHON = "/usr/bin/python3"

pyatspi = None  # set by load_pyatspi()


def load_pyatspi(always_system_python=False, missing_hint=None):
    """Imports and returns pyatspi. Debian's AT-SPI bindings belong to
    Debian's interpreter, which a python3 earlier on PATH (pyenv, a venv)
    does not see: the script hands itself over to /usr/bin/python3 when the
    import fails here, or at once with always_system_python. If the bindings
    are missing there too, missing_hint is printed and the script fails;
    without a hint the ImportError propagates."""
    global pyatspi
    elsewhere = (os.path.exists(SYSTEM_PYTHON)
                 and os.path.realpath(sys.executable) != os.path.realpath(SYSTEM_PYTHON))
    if always_system_python and elsewhere:
        os.execv(SYSTEM_PYTHON, [SYSTEM_PYTHON] + sys.argv)
    try:
        import pyatspi as module
    except ImportError:
        if elsewhere:
            os.execv(SYSTEM_PYTHON, [SYSTEM_PYTHON] + sys.argv)
        if missing_hint is None:
            raise
        print(missing_hint)
        sys.exit(1)
    pyatspi = module
    return module


def run(*argv, check=False, timeout=20, text=True, **kw):
    """Runs a command with its output captured; the CompletedProcess."""
    return subprocess.run(list(argv), capture_output=True, text=text, timeout=timeout, check=check, **kw)


def output(*argv, text=True, timeout=None, **kw):
    """A command's standard output; raises when the command fails."""
    return run(*argv, check=True, text=text, timeout=timeout, **kw).stdout


def wait_for(pred, timeout=20.0, what=None, step=0.1, fail=None):
    """Polls pred until it gives something true, and returns that. Errors
    while polling count as "not yet": the accessibility tree changes under
    our feet while windows come and go. On timeout, without `what`, pred's
    last (false) answer is returned; with it, fail(message) is called, or
    AssertionError raised, naming what was awaited."""
    end = time.monotonic() + timeout
    while True:
        try:
            value = pred()
        except Exception:
            value = None
        if value or time.monotonic() >= end:
            break
        time.sleep(step)
    if value or what is None:
        return value
    message = "timed out waiting for " + what
    if fail is not None:
        return fail(message)
    raise AssertionError(message)


def make_workdir(prefix):
    """A fresh directory under KESTREL_TEST_TMP (or the system's temp)."""
    os.makedirs(TEST_TMP, exist_ok=True)
    return tempfile.mkdtemp(prefix=prefix, dir=TEST_TMP)


def start_kestrel(config_home, env=None, **popen):
    """Starts the program with its settings under config_home and its
    accessibility bridge on; env adds variables, popen goes to Popen."""
    full = dict(os.environ, XDG_CONFIG_HOME=config_home, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", **(env or {}))
    return subprocess.Popen([BIN], env=full, **popen)


def stop(proc):
    """Ends a program a test started, and waits for it to be gone: asked
    first, then killed. A player left running (ffplay under load has shrugged
    off SIGTERM) would cover the screen for every test after it."""
    if proc is None or proc.poll() is not None:
        return
    proc.terminate()
    try:
        proc.wait(5)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(5)


def find_app(pid):
    """The application with this process id on the accessibility bus."""
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        a = desktop.getChildAtIndex(i)
        try:
            if a is not None and a.get_process_id() == pid:
                return a
        except Exception:
            pass
    return None


def find(node, role, name=None, pred=None, showing=True, depth=0):
    """Depth-first search for an accessible of a role (and name, and one
    that pred accepts); with showing, only one that is on screen."""
    if node is None or depth > 40:
        return None
    try:
        if node.getRoleName() == role and (name is None or node.name == name) and (pred is None or pred(node)):
            if not showing or node.getState().contains(pyatspi.STATE_SHOWING):
                return node
        for i in range(node.childCount):
            hit = find(node.getChildAtIndex(i), role, name, pred, showing, depth + 1)
            if hit is not None:
                return hit
    except Exception:
        return None
    return None


def act(node, preferred="Press"):
    """Performs the node's action called preferred, or its first action."""
    action = node.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    action.doAction(names.index(preferred) if preferred in names else 0)


def extents(node):
    """Left, top, width, height of a node on the screen."""
    e = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return e.x, e.y, e.width, e.height


def center(node):
    x, y, w, h = extents(node)
    return x + w // 2, y + h // 2


def mouse_to(x, y, click=False, sync=False):
    """Moves the real pointer there (waiting for it to arrive with sync),
    then clicks the left button if asked."""
    run("xdotool", "mousemove", *(["--sync"] if sync else []), str(int(x)), str(int(y)),
        *(["click", "1"] if click else []), check=True)


def visible_windows(name_regex):
    """Ids of the mapped windows whose title matches."""
    return run("xdotool", "search", "--onlyvisible", "--name", name_regex).stdout.split()
def frame(app, title):
    # A plain top-level widget shows up as a "filler", a dialog as a
    # "dialog", a main window as a "frame".
    for role in ("frame", "dialog", "filler"):
        w = find(app, role, title)
        if w is not None:
            return w
    return None


def outer_bounds(wid):
    """Left, top, width, height of a window with the window manager's frame."""
    info = output("xwininfo", "-id", wid)
    vals = {}
    for line in info.splitlines():
        if ":" in line:
            k, v = line.strip().split(":", 1)
            vals[k.strip()] = v.strip()
    x, y = int(vals["Absolute upper-left X"]), int(vals["Absolute upper-left Y"])
    w, h = int(vals["Width"]), int(vals["Height"])
    ext = output("xprop", "-id", wid, "_NET_FRAME_EXTENTS")
    left = right = top = bottom = 0
    if "=" in ext:
        left, right, top, bottom = (int(v) for v in ext.split("=")[1].split(","))
    return x - left, y - top, w + left + right, h + top + bottom



def enabled(node):
    return node is not None and node.getState().contains(pyatspi.STATE_ENABLED)


def begin_recording(app, out_file, frame_at=(380, 260), expect_remote=True, frame_size=None, proposed="make.avi"):
    """Record, the save dialog answered with out_file, Area, OK, the capture
    frame moved to frame_at (and sized to frame_size, outer width and
    height, when given) and its X clicked: what a person does before Start;
    the save dialog proposes `proposed` (the name chosen last, after the
    first time). Returns the remote control and the capture rectangle
    (without expect_remote, None and the rectangle right after the click)."""
    wait_for(lambda: find(app, "frame", CAPTION), what="the main window")
    # The preferences are read 100 ms after start; the rate comes from them.
    time.sleep(0.5)
    act(wait_for(lambda: find(app, "push button", "Record"), what="Record"))
    dlg = wait_for(lambda: find(app, "dialog"), what="the save dialog")
    name_field = wait_for(lambda: find(
        dlg, "text", pred=lambda a: a.getState().contains(pyatspi.STATE_EDITABLE)
        and a.queryText().getText(0, -1).endswith(proposed)), what="the file name field")
    name_field.queryEditableText().setTextContents(out_file)
    act(wait_for(lambda: find(dlg, "push button", "Save"), what="Save"))
    mode = wait_for(lambda: frame(app, "Type recording ?"), what="the window-or-area dialog")
    act(wait_for(lambda: find(mode, "radio button", pred=lambda a: a.name.startswith("Area")), what="Area"))
    act(wait_for(lambda: find(mode, "push button", "OK"), what="OK"))
    wid = wait_for(lambda: (visible_windows("^Click on the X$") or [None])[0], what="the capture frame")
    if os.environ.get("SWAYSOCK"):
        # sway centres floating X windows whatever they ask for: a person
        # would drag the frame, this moves it by sway's command, again if
        # the program's own placement of the new frame came after it.
        def moved():
            output("swaymsg", f"[id={wid}] move absolute position {frame_at[0]} {frame_at[1]}")
            time.sleep(0.3)
            return outer_bounds(wid)[:2] == tuple(frame_at)
        wait_for(moved, 10, what="the frame moved by sway")
    else:
        output("xdotool", "windowmove", "--sync", wid, str(frame_at[0]), str(frame_at[1]))
    if frame_size:
        def sized():
            # xdotool sizes the client area; the frame adds the rest.
            _, _, ow, oh = outer_bounds(wid)
            geometry = output("xdotool", "getwindowgeometry", wid).split("Geometry:")[1].split()[0]
            cw, ch = (int(v) for v in geometry.split("x"))
            output("xdotool", "windowsize", wid, str(frame_size[0] - (ow - cw)), str(frame_size[1] - (oh - ch)))
            time.sleep(0.3)
            return outer_bounds(wid)[2:] == tuple(frame_size)
        wait_for(sized, 10, what="the frame sized")
    time.sleep(0.5)
    rect = outer_bounds(wid)
    capture = wait_for(lambda: frame(app, "Click on the X"), what="the capture frame on the bus")
    mouse_to(*center(wait_for(lambda: find(capture, "label", "X"), what="the X")), click=True, sync=True)
    if not expect_remote:
        return None, rect
    remote = wait_for(lambda: frame(app, "Remote Control"), what="the remote control")
    return remote, rect


def start_with(app, remote, compressor):
    """The remote's Start, then the compressor dialog answered with the
    named compressor, or cancelled when compressor is None."""
    act(wait_for(lambda: (lambda b: b if enabled(b) else None)(find(remote, "push button", "Start")),
                 what="Start enabled"))
    comp = wait_for(lambda: frame(app, "Choose Cinepake Codec for default compression"), what="the compressor dialog")
    if compressor is None:
        act(wait_for(lambda: find(comp, "push button", "Cancel"), what="Cancel"))
        return
    item = wait_for(lambda: find(comp, "table cell", compressor) or find(comp, "list item", compressor)
                    or find(comp, "tree item", compressor), what=compressor)
    mouse_to(*center(item), click=True, sync=True)
    time.sleep(0.3)
    act(wait_for(lambda: find(comp, "push button", "OK"), what="OK"))
