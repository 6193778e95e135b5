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
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from kestrel_e2e import (act, begin_recording, find, find_app, load_pyatspi, make_workdir, output,  # noqa: E402
                         outer_bounds, start_kestrel, start_with, stop, visible_windows, wait_for)

os.environ["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
os.environ.setdefault("NO_AT_BRIDGE", "0")
# The bindings are taken from Debian's interpreter even when another one
# would find them.
pyatspi = load_pyatspi(always_system_python=True,
                       missing_hint="python3-pyatspi is missing (scripts/deps.sh installs it)")

RATE = 5
COMPRESSOR = "Full Frames (Uncompressed)"
FRAME_AT = (380, 260)  # where the capture frame is dragged, inside the screen


def log(*a):
    print(*a, flush=True)


def show_backdrop(path):
    """Static, distinctive content under the capture rectangle: a picture in
    a borderless window that stays where it is put."""
    output("convert", "-size", "800x600", "gradient:#d02030-#2040c0",
           "-fill", "white", "-draw", "rectangle 220,110 320,230",
           "-fill", "yellow", "-draw", "circle 360,190 400,230",
           "-fill", "black", "-pointsize", "36", "-annotate", "+200,290", "Kestrel 0123",
           path)
    proc = subprocess.Popen(["ffplay", "-v", "error", "-noborder", "-left", "200", "-top", "150",
                             "-x", "800", "-y", "600", "-loop", "0", "-window_title", "backdrop", path],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for(lambda: visible_windows("^backdrop$"), 20, what="the backdrop")
    time.sleep(1)
    return proc


def screen_size():
    out = output("xdpyinfo")
    for line in out.splitlines():
        if "dimensions:" in line:
            w, h = line.split()[1].split("x")
            return int(w), int(h)
    return 1280, 1024


def grab_screen(left, top, width, height):
    """The screen's pixels in the rectangle, as BGRA bytes (the part outside
    the screen is black, as in a recording)."""
    disp = os.environ["DISPLAY"]
    return output("ffmpeg", "-v", "error", "-f", "x11grab", "-draw_mouse", "0", "-video_size", f"{width}x{height}",
                  "-i", f"{disp}+{left},{top}", "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "bgra", "-",
                  text=False)


def main():
    work = make_workdir("kestrel-e2e-")
    config = os.path.join(work, "config")
    os.makedirs(os.path.join(config, "kestrel"))
    with open(os.path.join(config, "kestrel", "kestrel.ini"), "w") as f:
        f.write(f"[setup]\nframerate={RATE}\n")
    out_file = os.path.join(work, "e2e-record.avi")

    backdrop = show_backdrop(os.path.join(work, "backdrop.png"))

    proc = start_kestrel(config, env={"QT_QPA_PLATFORM": "xcb"}, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    try:
        record(proc, out_file)
        proc_alive = proc.poll() is None
        assert proc_alive, "Kestrel ended during the recording"
    finally:
        stop(proc)
        stop(backdrop)
        log(proc.stdout.read().decode(errors="replace")[-2000:])
    log("PASS")


def record(proc, out_file):
    app = wait_for(lambda: find_app(proc.pid), 30, what="Kestrel on the accessibility bus")
    remote, rect = begin_recording(app, out_file, FRAME_AT)
    log("capture rectangle:", rect)
    rwid = wait_for(lambda: (visible_windows("^Remote Control$") or [None])[0], what="its window")
    rb = outer_bounds(rwid)
    assert (rb[0], rb[1]) == (rect[0], rect[1] + rect[3]), f"remote at {rb}, rectangle {rect}"
    start_with(app, remote, COMPRESSOR)
    wait_for(lambda: os.path.exists(out_file), what="the file")

    time.sleep(3)
    act(wait_for(lambda: find(remote, "push button", "Pause"), what="Pause"))
    wait_for(lambda: find(remote, "push button", "UnPause"), what="UnPause")
    time.sleep(1)
    act(find(remote, "push button", "UnPause"))
    wait_for(lambda: find(remote, "push button", "Pause"), what="Pause again")
    time.sleep(2)
    # The screen under the rectangle, as the last frames saw it.
    shot = grab_screen(*rect)
    act(wait_for(lambda: find(remote, "push button", "Stop"), what="Stop"))
    wait_for(lambda: not find(remote, "push button", "Stop").getState().contains(pyatspi.STATE_ENABLED),
             what="Stop done")
    check_file(out_file, rect, shot)


def check_file(path, rect, shot):
    width, height = rect[2], rect[3]
    info = json.loads(output("ffprobe", "-v", "error", "-select_streams", "v:0", "-show_streams", "-show_packets",
                             "-of", "json", path))
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

    raw = output("ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "bgra", "-", text=False)
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
