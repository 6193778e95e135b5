#!/usr/bin/env python3
"""A whole recording with the real program, driven as a person would.

Runs inside scripts/xsession.sh (Xvfb, openbox, a session bus). The
toolbar's "Record", the save dialog, the window-or-area dialog, the capture
frame's X, the remote control's Start, the compressor dialog, Pause,
UnPause and Stop are all reached through the accessibility interface; the
X is clicked with xdotool where a person would click it. Then ffprobe and
ffmpeg read the file: its frame size is the capture frame's outer size, its
rate R/1, its frames numbered without gaps, and its last frame is the
screen inside the rectangle, pixel for pixel.
"""
import json
import os
import subprocess
import sys
import tempfile
import time

# Debian's accessibility bindings belong to Debian's interpreter; another
# python3 earlier on the PATH hands over to it.
if os.path.realpath(sys.executable) != os.path.realpath("/usr/bin/python3") and os.path.exists("/usr/bin/python3"):
    os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)

os.environ["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
os.environ.setdefault("NO_AT_BRIDGE", "0")

try:
    import pyatspi
except ImportError:
    print("python3-pyatspi is missing (scripts/deps.sh installs it)")
    sys.exit(1)

RATE = 5
COMPRESSOR = "Full Frames (Uncompressed)"
FRAME_AT = (380, 260)  # where the capture frame is dragged, inside the screen


def log(*a):
    print(*a, flush=True)


def run(argv, **kw):
    return subprocess.run(argv, check=True, capture_output=True, text=kw.pop("text", True), **kw).stdout


def wait_for(what, fn, timeout=20.0, step=0.1):
    end = time.time() + timeout
    while time.time() < end:
        try:
            v = fn()
        except Exception:  # the accessibility tree changes under our feet
            v = None
        if v:
            return v
        time.sleep(step)
    raise AssertionError("timed out waiting for " + what)


def find_app(pid):
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
    """Depth-first search for an accessible of a role (and name)."""
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


def frame(app, title):
    # A plain top-level widget shows up as a "filler", a dialog as a
    # "dialog", a main window as a "frame".
    for role in ("frame", "dialog", "filler"):
        w = find(app, role, title)
        if w is not None:
            return w
    return None


def press(acc):
    action = acc.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    action.doAction(names.index("Press") if "Press" in names else 0)


def click_at(x, y):
    run(["xdotool", "mousemove", "--sync", str(x), str(y), "click", "1"])


def center(acc):
    e = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return e.x + e.width // 2, e.y + e.height // 2


def window_ids(name):
    try:
        return run(["xdotool", "search", "--onlyvisible", "--name", name]).split()
    except subprocess.CalledProcessError:
        return []


def outer_bounds(wid):
    """Left, top, width, height of a window with the window manager's frame."""
    info = run(["xwininfo", "-id", wid])
    vals = {}
    for line in info.splitlines():
        if ":" in line:
            k, v = line.strip().split(":", 1)
            vals[k.strip()] = v.strip()
    x, y = int(vals["Absolute upper-left X"]), int(vals["Absolute upper-left Y"])
    w, h = int(vals["Width"]), int(vals["Height"])
    ext = run(["xprop", "-id", wid, "_NET_FRAME_EXTENTS"])
    left = right = top = bottom = 0
    if "=" in ext:
        left, right, top, bottom = (int(v) for v in ext.split("=")[1].split(","))
    return x - left, y - top, w + left + right, h + top + bottom


def show_backdrop(path):
    """Static, distinctive content under the capture rectangle: a picture in
    a borderless window that stays where it is put."""
    run(["convert", "-size", "800x600", "gradient:#d02030-#2040c0",
         "-fill", "white", "-draw", "rectangle 220,110 320,230",
         "-fill", "yellow", "-draw", "circle 360,190 400,230",
         "-fill", "black", "-pointsize", "36", "-annotate", "+200,290", "Kestrel 0123",
         path])
    proc = subprocess.Popen(["ffplay", "-v", "error", "-noborder", "-left", "200", "-top", "150",
                             "-x", "800", "-y", "600", "-loop", "0", "-window_title", "backdrop", path],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for("the backdrop", lambda: window_ids("^backdrop$"), 20)
    time.sleep(1)
    return proc


def screen_size():
    out = run(["xdpyinfo"])
    for line in out.splitlines():
        if "dimensions:" in line:
            w, h = line.split()[1].split("x")
            return int(w), int(h)
    return 1280, 1024


def grab_screen(left, top, width, height):
    """The screen's pixels in the rectangle, as BGRA bytes (the part outside
    the screen is black, as in a recording)."""
    disp = os.environ["DISPLAY"]
    return run(["ffmpeg", "-v", "error", "-f", "x11grab", "-draw_mouse", "0", "-video_size", f"{width}x{height}",
                "-i", f"{disp}+{left},{top}", "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "bgra", "-"],
               text=False)


def main():
    work = tempfile.mkdtemp(prefix="kestrel-e2e-",
                            dir=os.environ.get("KESTREL_TEST_TMP") if os.path.isdir(
                                os.environ.get("KESTREL_TEST_TMP", "")) else None)
    config = os.path.join(work, "config")
    os.makedirs(os.path.join(config, "kestrel"))
    with open(os.path.join(config, "kestrel", "kestrel.ini"), "w") as f:
        f.write(f"[setup]\nframerate={RATE}\n")
    out_file = os.path.join(work, "e2e-record.avi")

    backdrop = show_backdrop(os.path.join(work, "backdrop.png"))

    env = dict(os.environ, XDG_CONFIG_HOME=config, QT_QPA_PLATFORM="xcb",
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
    binary = os.environ.get("KESTREL_BIN", "build/kestrel")
    proc = subprocess.Popen([binary], env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    try:
        record(proc, out_file)
        proc_alive = proc.poll() is None
        assert proc_alive, "Kestrel ended during the recording"
    finally:
        if proc.poll() is None:
            proc.terminate()
            try:
                proc.wait(5)
            except subprocess.TimeoutExpired:
                proc.kill()
        backdrop.terminate()
        log(proc.stdout.read().decode(errors="replace")[-2000:])
    log("PASS")


def record(proc, out_file):
    app = wait_for("Kestrel on the accessibility bus", lambda: find_app(proc.pid), 30)
    main_win = wait_for("the main window", lambda: find(app, "frame", "Kestrel 2.5"))
    log("main window:", main_win.name)
    # The preferences are read 100 ms after start; the rate comes from them.
    time.sleep(0.5)

    press(wait_for("Record", lambda: find(app, "push button", "Record")))

    # The save dialog: the file name field holds the proposed "make.avi".
    dlg = wait_for("the save dialog", lambda: find(app, "dialog"))
    name_field = wait_for("the file name field", lambda: find(
        dlg, "text", pred=lambda a: a.getState().contains(pyatspi.STATE_EDITABLE)
        and a.queryText().getText(0, -1).endswith("make.avi")))
    name_field.queryEditableText().setTextContents(out_file)
    press(wait_for("Save", lambda: find(dlg, "push button", "Save")))

    # The window-or-area dialog: Area, then OK.
    try:
        form2 = wait_for("the window-or-area dialog", lambda: frame(app, "Type recording ?"))
    except AssertionError:
        for i in range(app.childCount):
            c = app.getChildAtIndex(i)
            log("window:", c.getRoleName(), repr(c.name), c.getState().contains(pyatspi.STATE_SHOWING))
        raise
    area = wait_for("Area", lambda: find(form2, "radio button", pred=lambda a: a.name.startswith("Area")))
    press(area)
    press(wait_for("OK", lambda: find(form2, "push button", "OK")))

    # The capture frame: dragged onto a known spot, then its X clicked.
    wid = wait_for("the capture frame", lambda: (window_ids("^Click on the X$") or [None])[0])
    run(["xdotool", "windowmove", "--sync", wid, str(FRAME_AT[0]), str(FRAME_AT[1])])
    time.sleep(0.5)
    rect = outer_bounds(wid)
    log("capture rectangle:", rect)
    form4 = wait_for("the capture frame on the bus", lambda: frame(app, "Click on the X"))
    x_label = wait_for("the X", lambda: find(form4, "label", "X"))
    click_at(*center(x_label))

    # The remote control appears below the rectangle.
    remote = wait_for("the remote control", lambda: frame(app, "Remote Control"))
    rwid = wait_for("its window", lambda: (window_ids("^Remote Control$") or [None])[0])
    rb = outer_bounds(rwid)
    assert (rb[0], rb[1]) == (rect[0], rect[1] + rect[3]), f"remote at {rb}, rectangle {rect}"
    start = wait_for("Start enabled", lambda: (lambda b: b if b and b.getState().contains(
        pyatspi.STATE_ENABLED) else None)(find(remote, "push button", "Start")))
    press(start)

    # The compressor dialog: the lossless full frames, then OK.
    comp = wait_for("the compressor dialog", lambda: frame(app, "Choose Cinepake Codec for default compression"))
    item = wait_for(COMPRESSOR, lambda: find(comp, "table cell", COMPRESSOR) or find(comp, "list item", COMPRESSOR)
                    or find(comp, "tree item", COMPRESSOR))
    click_at(*center(item))
    time.sleep(0.3)
    press(wait_for("OK", lambda: find(comp, "push button", "OK")))
    wait_for("the file", lambda: os.path.exists(out_file))

    time.sleep(3)
    press(wait_for("Pause", lambda: find(remote, "push button", "Pause")))
    wait_for("UnPause", lambda: find(remote, "push button", "UnPause"))
    time.sleep(1)
    press(find(remote, "push button", "UnPause"))
    wait_for("Pause again", lambda: find(remote, "push button", "Pause"))
    time.sleep(2)
    # The screen under the rectangle, as the last frames saw it.
    shot = grab_screen(*rect)
    press(wait_for("Stop", lambda: find(remote, "push button", "Stop")))
    wait_for("Stop done", lambda: not find(remote, "push button", "Stop").getState().contains(pyatspi.STATE_ENABLED))
    check_file(out_file, rect, shot)


def check_file(path, rect, shot):
    width, height = rect[2], rect[3]
    info = json.loads(run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_streams", "-show_packets",
                           "-of", "json", path]))
    st = info["streams"][0]
    log("stream:", st["codec_name"], st["width"], st["height"], st["r_frame_rate"])
    assert (st["width"], st["height"]) == (width, height), (st["width"], st["height"], rect)
    assert st["r_frame_rate"] == f"{RATE}/1", st["r_frame_rate"]
    packets = [p for p in info["packets"] if int(p.get("size", 0)) > 0]
    pts = [int(p["pts"]) for p in packets]
    log("frames:", len(pts))
    assert len(pts) >= 3 * RATE, f"only {len(pts)} frames in about 5 s of recording"
    assert pts == list(range(len(pts))), "frames are numbered without gaps"
    assert all("K" in p.get("flags", "") for p in packets), "every frame is a key frame"

    raw = run(["ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "bgra", "-"], text=False)
    size = width * height * 4
    assert len(raw) == size * len(pts), (len(raw), size, len(pts))
    last = raw[-size:]
    assert len(shot) == size, (len(shot), size)
    diff = sum(1 for i in range(0, size, 4) if last[i:i + 3] != shot[i:i + 3])
    log("pixels differing from the screen:", diff)
    if diff:
        for name, data in (("last-frame", last), ("screen", shot)):
            target = os.path.join(os.path.dirname(path), name + ".png")
            subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "rawvideo", "-pix_fmt", "bgra", "-video_size",
                            f"{width}x{height}", "-i", "-", target], input=data, check=False)
            log("kept for inspection:", target)
    assert diff == 0, f"{diff} of {width * height} pixels of the last frame differ from the screen"


if __name__ == "__main__":
    main()
