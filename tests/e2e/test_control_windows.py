#!/usr/bin/env python3
"""The commands reach a Kestrel started from the menu, and act as its buttons.

Runs inside scripts/xsession.sh (Xvfb, openbox, a session bus). Kestrel
starts as a person starts it; before a recording `kestrel --status` says
"idle" and `kestrel --pause` is refused. A recording started with the
toolbar, the capture frame and the compressor dialog is paused, resumed and
stopped by `kestrel --pause`, `--resume` and `--stop`: the remote
control's Pause button says UnPause and Pause again, its Stop is greyed
after the Stop, and ffprobe reads the completed file.
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from kestrel_e2e import (BIN, begin_recording, enabled, find, find_app, load_pyatspi, make_workdir,  # noqa: E402
                         run, start_kestrel, start_with, stop, wait_for)

os.environ["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
os.environ.setdefault("NO_AT_BRIDGE", "0")
pyatspi = load_pyatspi(always_system_python=True,
                       missing_hint="python3-pyatspi is missing (scripts/deps.sh installs it)")

RATE = 10


def kestrel(*args):
    return run(BIN, *args, timeout=60)


def state():
    r = kestrel("--status")
    assert r.returncode == 0, r.stderr
    return dict(line.split(": ", 1) for line in r.stdout.splitlines())["state"]


def main():
    work = make_workdir("kestrel-control-windows-")
    config = os.path.join(work, "config")
    os.makedirs(os.path.join(config, "kestrel"))
    with open(os.path.join(config, "kestrel", "kestrel.ini"), "w") as f:
        f.write(f"[setup]\nframerate={RATE}\n")
    out_file = os.path.join(work, "commanded.avi")
    proc = start_kestrel(config, env={"QT_QPA_PLATFORM": "xcb"}, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    try:
        app = wait_for(lambda: find_app(proc.pid), 30, what="Kestrel on the accessibility bus")
        wait_for(lambda: kestrel("--status").returncode == 0, 20, what="Kestrel on the session bus")
        assert state() == "idle"
        r = kestrel("--pause")
        assert (r.returncode, r.stderr) == (1, "kestrel: no recording is running\n"), (r.returncode, r.stderr)
        assert kestrel("--stop").returncode == 1

        remote, _ = begin_recording(app, out_file)
        assert state() == "ready"
        launched = time.monotonic()
        start_with(app, remote, "Full Frames (Uncompressed)")
        wait_for(lambda: state() == "recording", what="the recording")
        seen = time.monotonic()
        time.sleep(1)

        pause_call = time.monotonic()
        r = kestrel("--pause")
        pause_done = time.monotonic()
        assert r.returncode == 0, r.stderr
        wait_for(lambda: find(remote, "push button", "UnPause"), 5, what="UnPause on the remote control")
        assert state() == "paused"
        time.sleep(1)
        resume_call = time.monotonic()
        r = kestrel("--resume")
        resume_done = time.monotonic()
        assert r.returncode == 0, r.stderr
        wait_for(lambda: find(remote, "push button", "Pause"), 5, what="Pause again")
        assert state() == "recording"
        time.sleep(1)
        stop_call = time.monotonic()
        r = kestrel("--stop")
        stop_done = time.monotonic()
        assert r.returncode == 0, r.stderr
        # The file is complete when --stop returns.
        info = run("ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                   "stream=r_frame_rate,nb_read_frames", "-of", "default=nw=1", out_file).stdout
        fields = dict(line.split("=", 1) for line in info.split())
        assert fields["r_frame_rate"] == f"{RATE}/1", fields
        # The time recorded, the pause cut out: each command took effect
        # while it ran (and the first frame comes 0.1 s after Start).
        length = int(fields["nb_read_frames"]) / RATE
        shortest = (pause_call - seen) + (stop_call - resume_done) - 0.2
        longest = (pause_done - launched) + (stop_done - resume_call) + 0.1
        assert shortest <= length <= longest, (shortest, length, longest)
        wait_for(lambda: not enabled(find(remote, "push button", "Stop", showing=False)), 5, what="Stop greyed")
        assert state() in ("ready", "idle"), state()
        assert proc.poll() is None, "Kestrel ended"
    finally:
        stop(proc)
        print(proc.stdout.read().decode(errors="replace")[-2000:])
    r = kestrel("--status")
    assert (r.returncode, r.stderr) == (1, "kestrel: no Kestrel is running\n"), (r.returncode, r.stderr)
    print("PASS")


if __name__ == "__main__":
    main()
