#!/usr/bin/env python3
"""Whole-program test of the preferences, driven through the accessibility
interface the way a screen reader would: an empty settings directory, tick
"Final Preview" in Options > Setup, leave by the toolbar's "Exit", check the
file, start again and find the box ticked; then untick it, leave by the
menu's "Exit" and find the file unchanged.

Run: bash scripts/xsession.sh ctest --test-dir BUILD -R e2e_test_prefs --output-on-failure
"""
import functools
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import kestrel_e2e  # noqa: E402
from kestrel_e2e import CAPTION, act, extents, find_app, make_workdir, mouse_to, start_kestrel  # noqa: E402

pyatspi = kestrel_e2e.load_pyatspi()

KEYS = ["stretch", "nonstrech", "single", "avi", "on1", "off1", "ask1", "keep1", "on2", "off2",
        "sounddesktop", "soundmic", "soundmp3", "framerate", "pointer", "startstopkey", "pausekey"]


def fail(msg):
    print("FAIL:", msg)
    sys.exit(1)


wait_for = functools.partial(kestrel_e2e.wait_for, fail=fail)
# Any match counts, on screen or not: the options dialog checks that itself.
find = functools.partial(kestrel_e2e.find, showing=False)


def checked(node):
    return node.getState().contains(pyatspi.STATE_CHECKED)


HINT = "Stretch the viewing image to fit the preview window."


def hint_line(app):
    """The options dialog's hint text, or "" when the line is empty."""
    return find(app, "label", HINT) is not None


def check_hint_line(k, box):
    """A real pointer over the dialog: "Stetch Image" sets the hint, the other
    boxes leave it, the group box's and the dialog's free areas clear it."""
    stretch = find(k.app, "check box", "Stetch Image")
    remote = find(k.app, "check box", "Remote Control")
    group = find(k.app, "grouping", "Options") or find(k.app, "panel", "Options")
    dialog = find(k.app, "filler", "Options") or find(k.app, "frame", "Options")
    if None in (stretch, remote, group, dialog):
        fail("options dialog controls not found")
    x, y, w, h = extents(stretch)
    mouse_to(x + min(w / 2, 20), y + h / 2)
    wait_for(lambda: hint_line(k.app), 5, "the hint over \"Stetch Image\"")
    x, y, w, h = extents(remote)
    mouse_to(x + min(w / 2, 20), y + h / 2)
    x, y, w, h = extents(box)
    mouse_to(x + min(w / 2, 20), y + h / 2)
    time.sleep(0.5)
    if not hint_line(k.app):
        fail("the hint changed over the other check boxes")
    x, y, w, h = extents(group)
    mouse_to(x + w - 4, y + 4)
    wait_for(lambda: not hint_line(k.app), 5, "the group box to clear the hint")
    x, y, w, h = extents(stretch)
    mouse_to(x + min(w / 2, 20), y + h / 2)
    wait_for(lambda: hint_line(k.app), 5, "the hint over \"Stetch Image\" again")
    x, y, w, h = extents(dialog)
    mouse_to(x + 3, y + h / 2)
    wait_for(lambda: not hint_line(k.app), 5, "the dialog to clear the hint")


def read_setup(path):
    with open(path, "r", encoding="utf-8") as f:
        lines = [l.rstrip("\r\n") for l in f if l.strip()]
    if not lines or lines[0] != "[setup]":
        fail("unexpected settings file: %r" % lines)
    return dict(l.split("=", 1) for l in lines[1:])


class Kestrel:
    def __init__(self, config):
        self.proc = start_kestrel(config, env={"QT_ACCESSIBILITY": "1"})
        self.app = wait_for(lambda: find_app(self.proc.pid), 30, "the program on the accessibility bus")
        self.main = wait_for(lambda: find(self.app, "frame", CAPTION), 15, "the main window")
        # The preferences load on the first tick of a 100 ms timer.
        time.sleep(1.0)

    def open_options(self):
        setup = wait_for(lambda: find(self.main, "menu item", "Setup"), 10, 'the menu item "Setup"')
        act(setup)
        box = wait_for(lambda: self.final_preview_box(showing=True), 10, "the options dialog")
        return box

    def final_preview_box(self, showing=False):
        box = find(self.app, "check box", "Final Preview")
        if box is not None and showing and not box.getState().contains(pyatspi.STATE_SHOWING):
            return None
        return box

    def press(self, caption):
        button = wait_for(lambda: find(self.main, "push button", caption), 10, 'the button "%s"' % caption)
        act(button)

    def wait_exit(self):
        try:
            return self.proc.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            fail("the program did not end")

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


def main():
    config = make_workdir("prefs-e2e-")
    ini = os.path.join(config, "kestrel", "kestrel.ini")
    k = None
    try:
        # First start: no file. Tick "Final Preview", leave by the toolbar.
        k = Kestrel(config)
        box = k.open_options()
        if checked(box):
            fail('"Final Preview" ticked on a first start')
        check_hint_line(k, box)
        act(box, None)
        wait_for(lambda: checked(k.final_preview_box()), 5, '"Final Preview" to be ticked')
        k.press("Exit")
        rc = k.wait_exit()
        if rc != 0:
            fail("exit code %d" % rc)
        values = read_setup(ini)
        if list(values) != KEYS:
            fail("keys %r" % list(values))
        expected = {"stretch": "0", "nonstrech": "1", "single": "0", "avi": "1", "on1": "1", "off1": "0",
                    "ask1": "1", "keep1": "0", "on2": "1", "off2": "0",
                    "sounddesktop": "0", "soundmic": "0", "soundmp3": "0", "framerate": "2",
                    "pointer": "0", "startstopkey": "Ctrl+Alt+Shift+F9", "pausekey": "Ctrl+Alt+Shift+F10"}
        if values != expected:
            fail("values %r" % values)
        saved = open(ini, "rb").read()

        # Second start: the box is ticked. Untick, leave by the menu: no write.
        k = Kestrel(config)
        box = k.open_options()
        if not checked(box):
            fail('"Final Preview" not restored')
        act(box, None)
        wait_for(lambda: not checked(k.final_preview_box()), 5, '"Final Preview" to be unticked')
        exit_item = wait_for(lambda: find(k.main, "menu item", "Exit"), 10, 'the menu item "Exit"')
        act(exit_item)
        k.wait_exit()
        if open(ini, "rb").read() != saved:
            fail("the menu's Exit wrote the settings file")
        print("PASS")
    finally:
        if k is not None:
            k.kill()


if __name__ == "__main__":
    main()
