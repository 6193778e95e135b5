#!/usr/bin/env python3
"""Whole recordings on a Wayland desktop, with the real program.

Runs inside scripts/wayland-session.sh (headless sway, or with --desktop
gnome mutter, with XWayland, PipeWire, the desktop's screen-cast portal;
on GNOME the portal's dialog is answered by the session, once). A native Wayland client of ours
fills the monitor with the test pattern; Kestrel, on XWayland, records an
area over it through the portal, and ffmpeg's decoded frames must be the
pattern, pixel for pixel. The portal's permission lands in kestrel.ini. Then
the desktop's side of a cast goes away during a recording: one box says why,
and the file keeps its frames. Last, the X11 source, forced in the settings,
is refused in words before anything is recorded. Window mode follows the
native window in front through sway's IPC; without it (as on other Wayland
desktops) it says once that it cannot follow it and offers Area mode. On
GNOME, Window mode follows an X11 window in front, and says that it cannot
follow the native one that comes in front after it.
"""
import os
import re
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from kestrel_e2e import (BIN, CAPTION, act, begin_recording, enabled, find, find_app, frame,  # noqa: E402
                         load_pyatspi, make_workdir, outer_bounds, output, run, start_with, visible_windows,
                         wait_for)

os.environ["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
pyatspi = load_pyatspi(always_system_python=True,
                       missing_hint="python3-pyatspi is missing (scripts/deps.sh installs it)")

RATE = 5
FULL_FRAMES = "Full Frames (Uncompressed)"
PATTERN = os.environ["KESTREL_WAYLAND_PATTERN"]
DESKTOP = os.environ.get("KESTREL_DESKTOP", "sway")
# How far mutter's shadow of a framed window reaches above its frame.
SHADOW_ROWS = 24


def colour(x, y):
    """tests/support/pattern.h, as B, G, R bytes."""
    r, g, b = (x * 7 + y * 3) & 0xff, (x * 13 + 40) & 0xff, (y * 11 + 90) & 0xff
    return bytes((b, g, r))


def frames(path, width, height):
    """The decoded frames of the file, B G R A each."""
    raw = output("ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "bgra", "-", text=False)
    size = width * height * 4
    return [raw[i:i + size] for i in range(0, len(raw), size)]


def backend_pid():
    """The process of the portal's back end for this desktop (it owns its bus name)."""
    out = output("gdbus", "call", "--session", "-d", "org.freedesktop.DBus", "-o", "/org/freedesktop/DBus",
                 "-m", "org.freedesktop.DBus.GetConnectionUnixProcessID",
                 os.environ.get("KESTREL_PORTAL_BACKEND", "org.freedesktop.impl.portal.desktop.wlr"))
    return int(re.search(r"uint32 (\d+)", out).group(1))


class WaylandRecording(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # Tiled alone on the monitor, the client covers all of it; Kestrel's
        # windows float above it (the session's sway floats X windows).
        # Elsewhere it is full screen.
        args = ["--tiled"] if DESKTOP == "sway" else []
        cls.client = subprocess.Popen([PATTERN] + args, stdout=subprocess.PIPE, text=True)
        line = ""
        end = time.monotonic() + 20
        while "1280x720" not in line and time.monotonic() < end:
            line = cls.client.stdout.readline()
        assert "1280x720" in line, "the native client did not fill the monitor: " + line

    @classmethod
    def tearDownClass(cls):
        cls.client.kill()
        cls.client.wait()

    def start(self, ini, sway_ipc=True):
        self.work = make_workdir("kestrel-wayland-")
        self.config = os.path.join(self.work, "config")
        os.makedirs(os.path.join(self.config, "kestrel"))
        self.ini = os.path.join(self.config, "kestrel", "kestrel.ini")
        with open(self.ini, "w") as f:
            f.write(ini)
        env = dict(os.environ, XDG_CONFIG_HOME=self.config)
        # Kestrel must put itself on XWayland in a Wayland session.
        env.pop("QT_QPA_PLATFORM", None)
        if not sway_ipc:  # as on a Wayland desktop other than sway
            env.pop("SWAYSOCK", None)
        self.proc = subprocess.Popen([BIN], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.app = wait_for(lambda: find_app(self.proc.pid), 30, what="Kestrel on the accessibility bus")

    def tearDown(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()

    def box_text(self, prefix, timeout=30):
        label = wait_for(lambda: find(self.app, "label", pred=lambda a: (a.name or "").startswith(prefix)), timeout,
                         what="a box saying " + repr(prefix))
        return label.name

    def test_1_area_over_a_native_window_pixel_for_pixel(self):
        self.start(f"[setup]\nframerate={RATE}\n")
        out = os.path.join(self.work, "native.avi")
        remote, rect = begin_recording(self.app, out, (380, 260))
        print("capture rectangle:", rect, flush=True)
        start_with(self.app, remote, FULL_FRAMES)
        wait_for(lambda: os.path.exists(out), what="the file")
        time.sleep(2.5)
        act(wait_for(lambda: find(remote, "push button", "Stop"), what="Stop"))
        wait_for(lambda: not enabled(find(remote, "push button", "Stop")), what="Stop done")

        left, top, width, height = rect
        info = output("ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "stream=width,height",
                      "-of", "csv=p=0", out).strip()
        self.assertEqual(info, f"{width},{height}")
        shots = frames(out, width, height)
        print("frames:", len(shots), flush=True)
        self.assertGreaterEqual(len(shots), 2 * RATE)
        # The client's pixels on the monitor, black beside it.
        want = b"".join((colour(left + x, top + y) if 0 <= left + x < 1280 and 0 <= top + y < 720 else b"\0\0\0")
                        + b"\xff" for y in range(height) for x in range(width))
        # mutter draws a shadow above the remote control's title bar, and the
        # remote sits just below the rectangle: there the screen, and so the
        # file, shows the client darkened.
        shadow = SHADOW_ROWS if DESKTOP == "gnome" else 0
        exact = len(want) - shadow * width * 4
        for n, shot in enumerate(shots):
            bad = sum(1 for i in range(0, exact, 4) if shot[i:i + 3] != want[i:i + 3])
            self.assertEqual(bad, 0, f"frame {n}: {bad} of {width * height} pixels are not the client's")
            lighter = sum(1 for i in range(exact, len(want)) if (i % 4) < 3 and shot[i] > want[i])
            self.assertEqual(lighter, 0, f"frame {n}: the rows under the remote's shadow are not the client darkened")

        # Leaving by the toolbar's Exit with the cast still open (the preview
        # runs on) ends the program cleanly, and the portal's permission is
        # kept for the next start beside the settings Exit writes.
        act(wait_for(lambda: find(remote, "push button", "Show"), what="Show"))
        main = wait_for(lambda: find(self.app, "frame", CAPTION), what="the main window")
        act(wait_for(lambda: find(main, "push button", "Exit"), what="Exit"))
        self.assertEqual(self.proc.wait(20), 0)
        with open(self.ini) as f:
            text = f.read()
        self.assertRegex(text, r"(?m)^restoretoken=\S+")
        self.assertRegex(text, r"(?m)^framerate=5$")

    def test_2_cast_that_ends_during_a_recording(self):
        self.start(f"[setup]\nframerate={RATE}\n")
        out = os.path.join(self.work, "ends.avi")
        remote, _ = begin_recording(self.app, out, (200, 150))
        start_with(self.app, remote, FULL_FRAMES)
        wait_for(lambda: os.path.exists(out), what="the file")
        time.sleep(1.5)
        os.kill(backend_pid(), signal.SIGTERM)
        text = self.box_text("Recording stopped: ")
        print("the box says:", text, flush=True)
        self.assertIn("The screen cast ended", text)
        m = re.search(r"ends\.avi holds (\d+) frames? \(([\d.]+) s\) and plays\.$", text)
        self.assertTrue(m, text)
        self.assertGreater(int(m.group(1)), 0)
        n = run("ffprobe", "-v", "error", "-count_packets", "-select_streams", "v:0", "-show_entries",
                "stream=nb_read_packets", "-of", "csv=p=0", out).stdout.strip()
        self.assertEqual(n, m.group(1))

    def test_3_x11_source_refused_before_recording(self):
        self.start(f"[setup]\nframerate={RATE}\ngrabsource=x11\n")
        out = os.path.join(self.work, "x11.avi")
        wait_for(lambda: find(self.app, "frame", "Kestrel 2.5"), what="the main window")
        begin_recording(self.app, out, (200, 150), expect_remote=False)
        text = self.box_text("Kestrel cannot see the screen through X11")
        print("the box says:", text, flush=True)
        self.assertIn("grabsource", text)
        self.assertIsNone(find(self.app, "filler", "Remote Control"))
        self.assertFalse(os.path.exists(out))

    def choose_window_mode(self, focus_native=True):
        """Record, the file named, Window, OK; the native window then gets
        the focus (on sway), as when the person clicks it once the frame is up."""
        wait_for(lambda: find(self.app, "frame", CAPTION), what="the main window")
        time.sleep(0.5)
        act(wait_for(lambda: find(self.app, "push button", "Record"), what="Record"))
        dlg = wait_for(lambda: find(self.app, "dialog"), what="the save dialog")
        name_field = wait_for(lambda: find(
            dlg, "text", pred=lambda a: a.getState().contains(pyatspi.STATE_EDITABLE)
            and a.queryText().getText(0, -1).endswith("make.avi")), what="the file name field")
        name_field.queryEditableText().setTextContents(os.path.join(self.work, "window.avi"))
        act(wait_for(lambda: find(dlg, "push button", "Save"), what="Save"))
        mode = wait_for(lambda: frame(self.app, "Type recording ?"), what="the window-or-area dialog")
        act(wait_for(lambda: find(mode, "radio button", pred=lambda a: a.name.startswith("Window")), what="Window"))
        act(wait_for(lambda: find(mode, "push button", "OK"), what="OK"))
        wait_for(lambda: frame(self.app, "Click the the application to record"), what="the frame in Window mode")
        if not focus_native:
            return
        time.sleep(1)
        output("swaymsg", '[app_id="kestrel-pattern"] focus')

    @unittest.skipUnless(DESKTOP == "sway", "sway's IPC only")
    def test_4_window_mode_follows_a_native_window_on_sway(self):
        self.start(f"[setup]\nframerate={RATE}\n")
        self.choose_window_mode()
        wid = wait_for(lambda: (visible_windows("^Click the the application to record$") or [None])[0],
                       what="the frame's window")
        # The native window fills the monitor; the frame is laid over it.
        wait_for(lambda: outer_bounds(wid) == (0, 0, 1280, 720), 10, what="the frame over the native window")
        self.assertIsNone(find(self.app, "label", pred=lambda a: (a.name or "").startswith("Kestrel cannot follow")))

    @unittest.skipUnless(DESKTOP == "sway", "the native window is given the focus by sway's IPC")
    def test_5_window_mode_elsewhere_says_once_it_cannot_follow(self):
        self.start(f"[setup]\nframerate={RATE}\n", sway_ipc=False)
        self.choose_window_mode()
        text = self.box_text("Kestrel cannot follow the window in front", timeout=15)
        print("the box says:", text, flush=True)
        act(wait_for(lambda: find(self.app, "push button", "Yes"), what="Yes"))
        wait_for(lambda: frame(self.app, "Click on the X"), what="the frame in Area mode")
        # Said once: the native window keeps the focus, and no second box comes.
        output("swaymsg", '[app_id="kestrel-pattern"] focus')
        time.sleep(3.5)
        self.assertIsNone(find(self.app, "label", pred=lambda a: (a.name or "").startswith("Kestrel cannot follow")))

    @unittest.skipUnless(DESKTOP == "gnome", "mutter's XWayland windows")
    def test_6_window_mode_on_gnome_follows_x11_windows_and_says_it_cannot_follow_native_ones(self):
        self.start(f"[setup]\nframerate={RATE}\n")
        xterm = subprocess.Popen(["xterm", "-title", "kestrel-followed", "-geometry", "40x10+300+200", "-e", "sleep", "600"])
        try:
            xid = wait_for(lambda: (visible_windows("^kestrel-followed$") or [None])[0], 20, what="the xterm")
            self.choose_window_mode(focus_native=False)
            wid = wait_for(lambda: (visible_windows("^Click the the application to record$") or [None])[0],
                           what="the frame's window")
            output("xdotool", "windowactivate", xid)
            # The frame is laid over the window in front, its title bar included.
            wait_for(lambda: outer_bounds(wid) == outer_bounds(xid), 15, what="the frame over the xterm")
            self.assertIsNone(find(self.app, "label",
                                   pred=lambda a: (a.name or "").startswith("Kestrel cannot follow")))
            # The xterm gone, mutter gives the focus to the native window.
            xterm.kill()
            text = self.box_text("Kestrel cannot follow the window in front", timeout=15)
            print("then the box says:", text, flush=True)
        finally:
            xterm.kill()
            xterm.wait()


if __name__ == "__main__":
    unittest.main(verbosity=2)
