#!/usr/bin/env python3
"""A recording never fails in silence, driven as a person would through the
accessibility interface (under scripts/xsession.sh):

- a disk that fills (a small tmpfs; where mounting is refused, a file size
  limit on the process): one box says why the recording stopped and what the
  file keeps; the remote control offers no Pause or Stop for it; ffprobe
  finds the frames the box names;
- Stop at one frame a second right after Start: the file is closed and
  nothing more is written;
- the compressor dialog cancelled: no file, and Start is offered again.
"""
import os
import re
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from kestrel_e2e import (act, begin_recording, enabled, find, find_app, load_pyatspi, make_workdir,  # noqa: E402
                         run, start_kestrel, start_with, wait_for)

os.environ["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
load_pyatspi(always_system_python=True, missing_hint="python3-pyatspi is missing (scripts/deps.sh installs it)")

FULL_FRAMES = "Full Frames (Uncompressed)"


def frames_in(path):
    """Frames ffprobe counts in the file; -1 when it cannot read the file."""
    r = run("ffprobe", "-v", "error", "-count_packets", "-select_streams", "v:0", "-show_entries",
            "stream=nb_read_packets", "-of", "csv=p=0", path)
    out = r.stdout.strip()
    if r.returncode != 0:
        return -1
    return int(out) if out.isdigit() else 0  # "N/A": a file without frames


def count(node, pred, depth=0):
    """How many accessibles under node pred accepts."""
    if node is None or depth > 40:
        return 0
    try:
        return int(bool(pred(node))) + sum(count(node.getChildAtIndex(i), pred, depth + 1)
                                           for i in range(node.childCount))
    except Exception:
        return 0


class Failures(unittest.TestCase):
    def start(self, rate, prefix=None):
        self.work = make_workdir("kestrel-fail-")
        config = os.path.join(self.work, "config")
        os.makedirs(os.path.join(config, "kestrel"))
        with open(os.path.join(config, "kestrel", "kestrel.ini"), "w") as f:
            f.write("[setup]\nframerate=%d\n" % rate)
        self.proc = start_kestrel(config, env={"QT_QPA_PLATFORM": "xcb"}, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL) if prefix is None else subprocess.Popen(
            prefix + [os.environ.get("KESTREL_BIN", "build/kestrel")],
            env=dict(os.environ, XDG_CONFIG_HOME=config, QT_QPA_PLATFORM="xcb"),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.app = wait_for(lambda: find_app(self.proc.pid), 30, what="Kestrel on the accessibility bus")

    def tearDown(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
        if getattr(self, "mounted", None):
            run("umount", "-l", self.mounted)

    def box_text(self, prefix):
        label = wait_for(lambda: find(self.app, "label", pred=lambda a: a.name.startswith(prefix)), 30,
                         what="a box saying " + repr(prefix))
        return label.name

    def test_a_disk_that_fills(self):
        # A 12 MB tmpfs when this machine lets us mount one; otherwise a file
        # size limit of 3 MB on the process.
        probe_dir = make_workdir("kestrel-disk-")
        tmpfs = run("mount", "-t", "tmpfs", "-o", "size=12m", "tmpfs", probe_dir).returncode == 0
        self.mounted = probe_dir if tmpfs else None
        self.start(5, None if tmpfs else ["prlimit", "--fsize=3000000", "--"])
        out = os.path.join(probe_dir, "take one.avi")
        remote, _ = begin_recording(self.app, out)
        start_with(self.app, remote, FULL_FRAMES)
        text = self.box_text("Recording stopped: ")
        print("the box says:", text, flush=True)
        reason = "the disk is almost full" if tmpfs else "the file reached the largest size this system allows"
        self.assertIn(reason, text)
        m = re.search(r"take one\.avi holds (\d+) frames? \(([\d.]+) s\) and plays\.$", text)
        self.assertTrue(m, text)
        # The remote offers nothing for a recording that no longer exists.
        for caption in ("Start", "Pause", "Stop"):
            self.assertFalse(enabled(find(remote, "push button", caption, showing=False)), caption)
        self.assertEqual(frames_in(out), int(m.group(1)))
        size = os.path.getsize(out)
        time.sleep(1.5)
        self.assertEqual(os.path.getsize(out), size, "nothing written after the end")
        # One box for one failure.
        self.assertEqual(count(self.app, lambda a: a.getRoleName() == "label"
                               and (a.name or "").startswith("Recording stopped")), 1)

    def test_stop_right_after_start_at_one_frame_a_second(self):
        self.start(1)
        out = os.path.join(self.work, "early.avi")
        remote, _ = begin_recording(self.app, out)
        start_with(self.app, remote, FULL_FRAMES)
        wait_for(lambda: os.path.exists(out), what="the file")
        act(wait_for(lambda: (lambda b: b if enabled(b) else None)(find(remote, "push button", "Stop")),
                     what="Stop enabled"))
        wait_for(lambda: not enabled(find(remote, "push button", "Stop", showing=False)), what="Stop done")
        size = os.path.getsize(out)
        time.sleep(3)
        self.assertEqual(os.path.getsize(out), size, "frames written after Stop")
        self.assertLessEqual(frames_in(out), 1)
        self.assertGreaterEqual(frames_in(out), 0, "the file is readable")

    def test_cancelled_compressor_dialog_offers_start_again(self):
        self.start(5)
        out = os.path.join(self.work, "cancelled.avi")
        remote, _ = begin_recording(self.app, out)
        start_with(self.app, remote, None)
        wait_for(lambda: enabled(find(remote, "push button", "Start")), what="Start offered again")
        self.assertFalse(enabled(find(remote, "push button", "Pause", showing=False)))
        self.assertFalse(enabled(find(remote, "push button", "Stop", showing=False)))
        self.assertFalse(os.path.exists(out))


if __name__ == "__main__":
    if not shutil.which("ffprobe"):
        sys.exit("ffprobe is missing (scripts/deps.sh installs it)")
    unittest.main(verbosity=2)
