#!/usr/bin/env python3
"""A recording lasts as long as it was recorded, and both Pause buttons agree.

Runs inside scripts/xsession.sh. The real program is driven through the
accessibility interface as a person would: Record, Area, the X, the remote
control's Start. Thirty seconds at 60 and at 30 frames a second: the file's
frames divided by its rate must be the time between the Start and the Stop
press within 1 % (a timer of whole milliseconds once made 60 frames a
second play 4 % too long). The 30 frames/s recording is ended from the main
window ("Show", then the toolbar's Cancel), after which the remote control's
Pause must read "Pause" as the toolbar's does, and the next recording's
Pause must pause it.
"""
import json
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from kestrel_e2e import (act, begin_recording, enabled, find, find_app, frame, load_pyatspi, make_workdir,  # noqa: E402
                         output, start_kestrel, start_with, stop, wait_for)

os.environ["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
os.environ.setdefault("NO_AT_BRIDGE", "0")
pyatspi = load_pyatspi(always_system_python=True,
                       missing_hint="python3-pyatspi is missing (scripts/deps.sh installs it)")

SECONDS = 30
COMPRESSOR = "Motion JPEG"


def log(*a):
    print(*a, flush=True)


def frames_in(path):
    info = json.loads(output("ffprobe", "-v", "error", "-select_streams", "v:0", "-count_packets",
                             "-show_entries", "stream=nb_read_packets,r_frame_rate", "-of", "json", path))
    st = info["streams"][0]
    return int(st["nb_read_packets"]), st["r_frame_rate"]


def press(node, caption):
    act(wait_for(lambda: (lambda b: b if enabled(b) else None)(find(node, "push button", caption)),
                 what=f"{caption} enabled"))


def caption_of(node, captions):
    for c in captions:
        if find(node, "push button", c, showing=False) is not None:
            return c
    return None


def run(rate, work, end_from_main_window):
    config = os.path.join(work, f"config{rate}")
    os.makedirs(os.path.join(config, "kestrel"))
    with open(os.path.join(config, "kestrel", "kestrel.ini"), "w") as f:
        f.write(f"[setup]\nframerate={rate}\n")
    out_file = os.path.join(work, f"clock{rate}.avi")
    proc = start_kestrel(config, env={"QT_QPA_PLATFORM": "xcb"}, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    try:
        app = wait_for(lambda: find_app(proc.pid), 30, what="Kestrel on the accessibility bus")
        remote, _ = begin_recording(app, out_file)
        start_with(app, remote, COMPRESSOR)
        started = time.monotonic()
        wait_for(lambda: os.path.exists(out_file), what="the file")
        time.sleep(SECONDS - (time.monotonic() - started))
        if end_from_main_window:
            press(remote, "Show")
            main = wait_for(lambda: frame(app, "Kestrel 2.5"), what="the main window")
            ended = time.monotonic()
            press(main, "Cancel")
            wait_for(lambda: not enabled(find(remote, "push button", "Pause", showing=False)), what="Cancel done")
            # Both Pause buttons say the same, and the remote's does nothing.
            assert caption_of(remote, ("Pause", "UnPause")) == "Pause"
            assert caption_of(main, ("Pause", "UnPause")) == "Pause"
        else:
            ended = time.monotonic()
            press(remote, "Stop")
            wait_for(lambda: not enabled(find(remote, "push button", "Stop")), what="Stop done")
        elapsed = ended - started
        frames, r = frames_in(out_file)
        log(f"{rate} frames/s: {frames} frames in {elapsed:.3f} s between Start and the end: "
            f"{frames / rate:.3f} s of video ({100 * (frames / rate - elapsed) / elapsed:+.2f} %)")
        assert r == f"{rate}/1", r
        assert abs(frames / rate - elapsed) <= 0.01 * elapsed, "the file's length is not the time recorded"

        if end_from_main_window:
            # The next recording's Pause pauses it, from the remote control.
            remote, _ = begin_recording(app, os.path.join(work, f"next{rate}.avi"),
                                        proposed=os.path.basename(out_file))
            start_with(app, remote, COMPRESSOR)
            press(remote, "Pause")
            wait_for(lambda: caption_of(remote, ("UnPause",)), what="the remote's UnPause")
            press(remote, "Show")
            main = wait_for(lambda: frame(app, "Kestrel 2.5"), what="the main window")
            wait_for(lambda: caption_of(main, ("UnPause",)), 5, what="the toolbar's UnPause")
            press(remote, "UnPause")
            press(remote, "Stop")
    finally:
        stop(proc)
        log(proc.stdout.read().decode(errors="replace")[-2000:])


def main():
    work = make_workdir("kestrel-clock-")
    run(60, work, end_from_main_window=False)
    run(30, work, end_from_main_window=True)
    log("PASS")


if __name__ == "__main__":
    main()
