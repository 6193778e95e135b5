#!/usr/bin/env python3
"""Moving content that looks like a desktop, for the live-recording
benchmarks: a terminal whose text scrolls, two clocks, a small video, a
window that moves across the screen and a pointer that wanders.

    python3 bench/record/desktop.py [--seconds N]   # on $DISPLAY; Ctrl+C ends it

run.py starts it with Desktop(); everything it starts ends with stop().
"""
import argparse
import math
import os
import subprocess
import sys
import threading
import time

# Lines a second the terminal prints: a busy build log, not a flood.
SCROLL_LINES_PER_S = 60
MOVES_PER_S = 20


def screen_size():
    out = subprocess.run(["xdpyinfo"], capture_output=True, text=True).stdout
    for line in out.splitlines():
        if "dimensions:" in line:
            w, h = line.split()[1].split("x")
            return int(w), int(h)
    return 1920, 1080


class Desktop:
    def __init__(self):
        self.procs = []
        self.stopping = threading.Event()
        self.mover = None

    def _spawn(self, argv):
        self.procs.append(subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))

    def start(self):
        w, h = screen_size()
        # Scale the layout to the screen so 4K looks like 1080p, only bigger.
        s = w / 1920.0
        cols, rows = 110, int(48 * s)
        scroller = ("i=0; while :; do i=$((i+1)); "
                    "printf 'build %6d  compiling src/module_%03d/file_%04d.cpp  [%3d%%]  ok\\n' "
                    "$i $((i % 97)) $((i % 1009)) $((i % 100)); "
                    f"sleep {1.0 / SCROLL_LINES_PER_S:.4f}; done")
        self._spawn(["xterm", "-geometry", f"{cols}x{rows}+0+0", "-fa", "DejaVu Sans Mono", "-fs", str(int(9 * s)),
                     "-bg", "#1e1e1e", "-fg", "#d0d0d0", "-e", "sh", "-c", scroller])
        cs = int(180 * s)
        self._spawn(["xclock", "-update", "1", "-geometry", f"{cs}x{cs}-{int(20 * s)}+{int(20 * s)}"])
        self._spawn(["oclock", "-geometry", f"{cs}x{cs}-{int(40 * s) + cs}+{int(20 * s)}"])
        vw, vh = int(480 * s) // 2 * 2, int(270 * s) // 2 * 2
        self._spawn(["ffplay", "-v", "error", "-noborder", "-left", str(w - vw - int(20 * s)),
                     "-top", str(h - vh - int(60 * s)), "-x", str(vw), "-y", str(vh),
                     "-f", "lavfi", f"testsrc2=size={vw}x{vh}:rate=30"])
        self._spawn(["xeyes", "-geometry", f"{int(300 * s)}x{int(200 * s)}+{w // 2}+{h // 2}"])
        time.sleep(1.5)
        self.mover = threading.Thread(target=self._move, args=(w, h), daemon=True)
        self.mover.start()
        return self

    def _move(self, w, h):
        # The eyes window glides on an ellipse; the pointer on another.
        wid = subprocess.run(["xdotool", "search", "--sync", "--limit", "1", "--class", "xeyes"],
                             capture_output=True, text=True, timeout=10).stdout.split()
        t0 = time.monotonic()
        while not self.stopping.is_set():
            t = time.monotonic() - t0
            if wid:
                x = int(w * (0.45 + 0.2 * math.cos(t / 3)))
                y = int(h * (0.4 + 0.2 * math.sin(t / 3)))
                subprocess.run(["xdotool", "windowmove", wid[0], str(x), str(y)], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
            px = int(w * (0.5 + 0.35 * math.sin(t / 2)))
            py = int(h * (0.5 + 0.35 * math.cos(t / 1.3)))
            subprocess.run(["xdotool", "mousemove", str(px), str(py)], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            self.stopping.wait(1.0 / MOVES_PER_S)

    def stop(self):
        self.stopping.set()
        if self.mover:
            self.mover.join(timeout=5)
        for p in self.procs:
            p.terminate()
        for p in self.procs:
            try:
                p.wait(timeout=5)
            except subprocess.TimeoutExpired:
                p.kill()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--seconds", type=float, default=0, help="0: until interrupted")
    args = ap.parse_args()
    if not os.environ.get("DISPLAY"):
        sys.exit("desktop.py needs an X display ($DISPLAY)")
    d = Desktop().start()
    try:
        if args.seconds:
            time.sleep(args.seconds)
        else:
            while True:
                time.sleep(3600)
    except KeyboardInterrupt:
        pass
    finally:
        d.stop()


if __name__ == "__main__":
    main()
