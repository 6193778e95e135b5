#!/usr/bin/env python3
"""Kestrel as a person meets it: the main window appears with its icon in
the notification area; "Hide" puts it away, a click on the tray icon brings
it back; the close box ends the program cleanly without saving settings.
Also: started without any display, it says so in one line and fails.

Needs an X server with a window manager and a session bus (scripts/test.sh
runs ctest inside scripts/xsession.sh); starts its own tray host, trayer.
"""
import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from kestrel_e2e import (BIN, CAPTION, find, find_app, load_pyatspi, make_workdir, mouse_to, run,  # noqa: E402
                         start_kestrel, visible_windows, wait_for)

load_pyatspi()


def geometry(window):
    out = run("xdotool", "getwindowgeometry", "--shell", window).stdout
    g = dict(line.split("=", 1) for line in out.split() if "=" in line)
    return int(g["X"]), int(g["Y"]), int(g["WIDTH"]), int(g["HEIGHT"])


class NoDisplay(unittest.TestCase):
    def test_says_so_in_one_line_and_fails(self):
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        r = subprocess.run([BIN], env=env, capture_output=True, text=True, timeout=20)
        self.assertNotEqual(r.returncode, 0)
        lines = [l for l in r.stderr.splitlines() if l.strip()]
        self.assertEqual(len(lines), 1, r.stderr)
        self.assertIn("display", lines[0].lower())
        self.assertEqual(r.stdout, "")

    def test_unreachable_x_server_is_one_line_too(self):
        env = {k: v for k, v in os.environ.items() if k not in ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        env["DISPLAY"] = ":4711"  # no server there
        r = subprocess.run([BIN], env=env, capture_output=True, text=True, timeout=20)
        self.assertEqual(r.returncode, 1, r.stderr)
        lines = [l for l in r.stderr.splitlines() if l.strip()]
        self.assertEqual(len(lines), 1, r.stderr)
        self.assertIn(":4711", lines[0])


@unittest.skipUnless(os.environ.get("DISPLAY"), "needs an X server (run under scripts/xsession.sh)")
class HideAndRestore(unittest.TestCase):
    def setUp(self):
        self.tmp = make_workdir("kestrel-e2e-")
        os.makedirs(os.path.join(self.tmp, "kestrel"))
        self.ini = os.path.join(self.tmp, "kestrel", "kestrel.ini")
        open(self.ini, "w").close()
        self.trayer = subprocess.Popen(
            ["trayer", "--edge", "top", "--align", "left", "--widthtype", "request", "--height", "32",
             "--SetDockType", "true", "--transparent", "false", "--expand", "true"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.panel = wait_for(lambda: (run("xdotool", "search", "--onlyvisible", "--class", "trayer").stdout.split()
                                       or [None])[0], timeout=15)
        self.assertIsNotNone(self.panel, "trayer did not come up")
        self.log = open(os.path.join(self.tmp, "kestrel.log"), "w")
        self.app = start_kestrel(self.tmp, stdout=self.log, stderr=subprocess.STDOUT)

    def tearDown(self):
        if self.app.poll() is None:
            self.app.kill()
            self.app.wait()
        self.trayer.terminate()
        self.trayer.wait()
        self.log.close()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def test_hide_to_tray_restore_and_close(self):
        shown = wait_for(lambda: visible_windows("^%s$" % CAPTION.replace(".", r"\.")), timeout=30)
        self.assertTrue(shown, "the main window never appeared")

        # What a person sees: a screenshot of the whole screen, not black.
        shot = os.path.join(self.tmp, "start.png")
        run("import", "-window", "root", shot, check=True, timeout=60)
        self.assertGreater(os.path.getsize(shot), 1000)
        mean = float(run("convert", shot, "-format", "%[fx:mean]", "info:", check=True).stdout)
        self.assertGreater(mean, 0.01, "the screen is black")

        # The icon is in the tray: the panel grows to hold it.
        self.assertTrue(wait_for(lambda: geometry(self.panel)[2] >= 16, timeout=15), "no icon in the tray")

        # The bus may still be starting: keep asking.
        hide = wait_for(lambda: find(find_app(self.app.pid), "push button", "Hide", showing=False), 20, step=0.3)
        self.assertIsNotNone(hide, "no 'Hide' push button reachable through accessibility")
        self.assertIn("kestrel", (find_app(self.app.pid).name or "").lower())
        hide.queryAction().doAction(0)
        self.assertTrue(wait_for(lambda: not visible_windows("^Kestrel 2\\.5$"), timeout=10),
                        "the main window did not hide")
        self.assertIsNone(self.app.poll(), "hiding ended the program")

        x, y, w, h = geometry(self.panel)
        mouse_to(x + w // 2, y + h // 2, click=True)
        self.assertTrue(wait_for(lambda: visible_windows("^Kestrel 2\\.5$"), timeout=10),
                        "a click on the tray icon did not bring the window back")

        # The close box: a polite WM_DELETE_WINDOW, as the frame's button sends.
        run("wmctrl", "-c", CAPTION, check=True)
        try:
            rc = self.app.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.fail("the program did not end after its window was closed")
        with open(os.path.join(self.tmp, "kestrel.log")) as log:
            self.assertEqual(rc, 0, log.read())
        with open(self.ini) as f:
            self.assertEqual(f.read(), "", "the close box must not save settings")


if __name__ == "__main__":
    unittest.main(verbosity=2)
