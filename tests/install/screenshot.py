#!/usr/bin/env python3
"""Takes the screenshot software centres show: the main window, with its
window-manager frame, as a PNG at <build>/docs/screenshots/main-window.png.
docs/screenshots/main-window.png in the sources is a copy of one, for the
AppStream file to name.

Needs the X server, window manager and session bus that scripts/test.sh
provides (scripts/xsession.sh).
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from kestrel_e2e import CAPTION, make_workdir, mouse_to, run, start_kestrel, visible_windows, wait_for  # noqa: E402

BUILD = os.environ.get("KESTREL_BINARY_DIR", os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../build"))
OUT = os.path.join(BUILD, "docs", "screenshots", "main-window.png")


def frame_rect(window):
    """The window with its frame, in root coordinates: x, y, width, height."""
    info = run("xwininfo", "-id", window).stdout
    g = {}
    for key, name in (("x", "Absolute upper-left X"), ("y", "Absolute upper-left Y"),
                      ("w", "Width"), ("h", "Height")):
        line = next(l for l in info.splitlines() if l.strip().startswith(name + ":"))
        g[key] = int(line.split(":")[1])
    # left, right, top, bottom: what the window manager's frame adds.
    extents = run("xprop", "-id", window, "_NET_FRAME_EXTENTS").stdout
    left, right, top, bottom = ([int(v) for v in extents.split("=")[1].split(",")]
                                if "=" in extents else (0, 0, 0, 0))
    return g["x"] - left, g["y"] - top, g["w"] + left + right, g["h"] + top + bottom


def main():
    os.makedirs(os.path.dirname(OUT), exist_ok=True)
    if os.path.exists(OUT):
        os.remove(OUT)
    # Fresh settings: the picture shows what a new user sees.
    proc = start_kestrel(make_workdir("screenshot-"), stdout=subprocess.DEVNULL)
    try:
        windows = wait_for(lambda: visible_windows("^%s$" % CAPTION), timeout=30, what="the main window")
        window = windows[0]
        mouse_to(0, 0)  # no hover highlight on the toolbar
        time.sleep(1.5)  # the window manager places and frames it, Qt paints it
        x, y, w, h = frame_rect(window)
        run("import", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage", OUT, check=True)
    finally:
        proc.terminate()
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            proc.kill()

    size = run("identify", "-format", "%w %h %k", OUT, check=True).stdout.split()
    if [int(v) for v in size[:2]] != [w, h]:
        sys.exit("the screenshot is %sx%s, the window %dx%d" % (size[0], size[1], w, h))
    # A blank or half-drawn grab has a handful of colours; the window has text,
    # an icon and a toolbar.
    if int(size[2]) < 50:
        sys.exit("the screenshot has only %s colours: the window was not drawn" % size[2])
    print("wrote", OUT, "%dx%d" % (w, h))


if __name__ == "__main__":
    main()
