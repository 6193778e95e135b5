#!/usr/bin/env python3
"""The global shortcuts and the mouse pointer, with the real program.

Runs inside scripts/xsession.sh (Xvfb, openbox, a session bus). With
"Record the mouse pointer" on in kestrel.ini, an area is recorded (the
toolbar, the dialogs and the remote's Start through the accessibility
interface). Then an xterm takes the focus, and the default shortcuts,
sent with xdotool, pause, resume and stop the recording while the xterm
keeps the focus. The pointer rests at a known place on the rectangle: the
file's last frame must be the screen with the pointer drawn in as
ffmpeg's own X11 grab draws it (-draw_mouse 1), and where ffmpeg drew it.
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from kestrel_e2e import (begin_recording, find, find_app, load_pyatspi, make_workdir, output,  # noqa: E402
                         start_kestrel, start_with, stop, visible_windows, wait_for)

pyatspi = load_pyatspi(always_system_python=True,
                       missing_hint="python3-pyatspi is missing (scripts/deps.sh installs it)")

RATE = 5
FRAME_AT = (380, 260)
START_STOP = "ctrl+alt+shift+F9"
PAUSE = "ctrl+alt+shift+F10"
def log(*a):
    print(*a, flush=True)


def grab_screen(left, top, width, height, mouse):
    """The rectangle's pixels as BGRA bytes, through ffmpeg's own X11 grab:
    with `mouse`, the pointer drawn in by ffmpeg from XFixes' picture of it."""
    disp = os.environ["DISPLAY"]
    return output("ffmpeg", "-v", "error", "-f", "x11grab", "-draw_mouse", "1" if mouse else "0",
                  "-video_size", f"{width}x{height}",
                  "-i", f"{disp}+{left},{top}", "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "bgra", "-",
                  text=False)


def key(keys):
    output("xdotool", "key", keys)


def focused():
    return output("xdotool", "getwindowfocus").strip()


def main():
    work = make_workdir("kestrel-e2e-")
    config = os.path.join(work, "config")
    os.makedirs(os.path.join(config, "kestrel"))
    with open(os.path.join(config, "kestrel", "kestrel.ini"), "w") as f:
        f.write(f"[setup]\nframerate={RATE}\npointer=1\n")
    out_file = os.path.join(work, "e2e-shortcuts.avi")

    proc = start_kestrel(config, env={"QT_QPA_PLATFORM": "xcb"}, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    xterm = None
    try:
        app = wait_for(lambda: find_app(proc.pid), 30, what="Kestrel on the accessibility bus")
        remote, rect = begin_recording(app, out_file, FRAME_AT)
        log("capture rectangle:", rect)
        start_with(app, remote, "Full Frames (Uncompressed)")
        wait_for(lambda: os.path.exists(out_file), what="the file")

        # Another program in front, away from the rectangle.
        xterm = subprocess.Popen(["xterm", "-geometry", "30x6+0+0", "-title", "shortcut-focus"])
        wid = wait_for(lambda: (visible_windows("^shortcut-focus$") or [None])[0], what="the xterm")
        output("xdotool", "windowactivate", "--sync", wid)
        wait_for(lambda: focused() == wid, 10, what="the xterm to have the focus")
        pointer = (rect[0] + 40, rect[1] + 30)
        output("xdotool", "mousemove", "--sync", str(pointer[0]), str(pointer[1]))

        key(PAUSE)
        wait_for(lambda: find(remote, "push button", "UnPause"), 10, what="the recording paused by the shortcut")
        assert focused() == wid, "the shortcut took the focus from the xterm"
        key(PAUSE)
        wait_for(lambda: find(remote, "push button", "Pause"), 10, what="the recording resumed by the shortcut")
        time.sleep(1.5)
        plain, shown = grab_screen(*rect, mouse=False), grab_screen(*rect, mouse=True)
        key(START_STOP)
        wait_for(lambda: not find(remote, "push button", "Stop").getState().contains(pyatspi.STATE_ENABLED), 15,
                 what="the recording stopped by the shortcut")
        assert focused() == wid, "the shortcut took the focus from the xterm"
        check_last_frame(out_file, rect, plain, shown, pointer)
        assert proc.poll() is None, "Kestrel ended"
    finally:
        stop(xterm)
        stop(proc)
        log(proc.stdout.read().decode(errors="replace")[-2000:])
    log("PASS")


def check_last_frame(path, rect, plain, shown, pointer):
    """The last frame is the screen with the pointer drawn in as ffmpeg
    draws it: exactly where the pointer's picture is opaque or clear, within
    2 of 255 in each colour where it is partly transparent (ffmpeg rounds
    its blend otherwise)."""
    width, height = rect[2], rect[3]
    raw = output("ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "bgra", "-", text=False)
    size = width * height * 4
    assert raw and len(raw) % size == 0, (len(raw), size)
    log("frames:", len(raw) // size)
    last = raw[-size:]
    # Where ffmpeg's pointer lies: the pixels it changed.
    drawn = [i // 4 for i in range(0, size, 4) if plain[i:i + 3] != shown[i:i + 3]]
    assert drawn, "ffmpeg sees no pointer over the rectangle"
    xs, ys = [i % width for i in drawn], [i // width for i in drawn]
    px, py = pointer[0] - rect[0], pointer[1] - rect[1]
    log("pointer at", (px, py), "drawn over", (min(xs), min(ys)), "to", (max(xs), max(ys)))
    assert min(xs) - 2 <= px <= max(xs) + 2 and min(ys) - 2 <= py <= max(ys) + 2, "the pointer drawn elsewhere"
    exact = near = far = 0
    for i in range(0, size, 4):
        d = max(abs(a - b) for a, b in zip(last[i:i + 3], shown[i:i + 3]))
        if d == 0:
            exact += 1
        elif d <= 2:
            near += 1
        else:
            far += 1
    log(f"pixels as ffmpeg draws them: {exact} exact, {near} within 2, {far} further off")
    if far:
        for name, data in (("last-frame", last), ("ffmpeg", shown)):
            target = os.path.join(os.path.dirname(path), name + ".png")
            subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "rawvideo", "-pix_fmt", "bgra", "-video_size",
                            f"{width}x{height}", "-i", "-", target], input=data, check=False)
            log("kept for inspection:", target)
    assert far == 0, f"{far} pixels differ"
    assert near <= len(drawn), "pixels off the pointer differ"


if __name__ == "__main__":
    main()
