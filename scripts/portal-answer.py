#!/usr/bin/python3
"""Answers the desktop's screen-share dialog as a person would, through the
accessibility bus: the first monitor chosen, "remember" left on, Share
pressed. Started by scripts/wayland-session.sh on GNOME (the dialog of
xdg-desktop-portal-gnome) and KDE Plasma (xdg-desktop-portal-kde).

   portal-answer.py LOG CONTROL
Each dialog answered adds a line to LOG ("share" or "cancel"), so tests can
count how often the desktop asked. While the file CONTROL holds "cancel",
dialogs are declined instead. Runs until killed.
"""
import os
import subprocess
import sys
import time

import pyatspi

DIALOGS = {
    # application name: (dialog frame's name, share button, cancel button)
    "xdg-desktop-portal-gnome": ("Screen Share", "_Share Share", "_Cancel Cancel"),
    "xdg-desktop-portal-kde": ("Screen Sharing", "Share", "Cancel"),
}


def walk(node, depth=0):
    if depth > 20:
        return
    try:
        yield node
        for child in node:
            if child is not None:
                yield from walk(child, depth + 1)
    except Exception:  # a node that went away while we looked
        return


def find(node, role, name=None):
    for n in walk(node):
        try:
            if n.getRoleName() == role and (name is None or n.name == name):
                return n
        except Exception:
            pass
    return None


def press(node):
    node.queryAction().doAction(0)


def click_screen(frame):
    """KDE: the list's delegates offer no action on the accessibility bus,
    so the screen is clicked, on its name below the preview (a click on the
    preview is not taken), at the place the bus gives in screen
    coordinates (the session puts the dialog at the screen's origin; the
    bus's window coordinates are wrong there). Its "New Virtual Output"
    entry is passed over."""
    for n in walk(frame):
        try:
            if n.getRoleName() != "list item" or any(c.name == "New Virtual Output" for c in n):
                continue
            x, y, w, h = n.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        except Exception:
            continue
        print("clicking", x, y, w, h, [c.name for c in n], file=sys.stderr, flush=True)
        subprocess.run([os.environ["KESTREL_KWIN_CLICK"], str(x + w // 2), str(y + h - 20)], check=True)
        time.sleep(0.5)
        return


def answer(frame, share, cancel, decline):
    if decline:
        press(find(frame, "push button", cancel))
        return "cancel"
    monitors = find(frame, "list")
    if monitors is not None:
        try:  # GNOME: a list of monitors with a selection
            monitors.querySelection().selectChild(0)
        except NotImplementedError:
            pass
    if os.environ.get("KESTREL_KWIN_CLICK"):
        click_screen(frame)
    press(find(frame, "push button", share))
    return "share"


def main():
    log, control = sys.argv[1], sys.argv[2]
    while True:
        try:
            desktop = pyatspi.Registry.getDesktop(0)
            for app in desktop:
                if app is None or app.name not in DIALOGS:
                    continue
                title, share, cancel = DIALOGS[app.name]
                for frame in app:
                    if frame is None or frame.name != title:
                        continue
                    try:
                        with open(control) as f:
                            decline = f.read().strip() == "cancel"
                    except OSError:
                        decline = False
                    time.sleep(0.3)  # as a person would, once it is drawn
                    what = answer(frame, share, cancel, decline)
                    with open(log, "a") as f:
                        f.write(what + "\n")
                    # Answered once: wait until the dialog has gone.
                    for _ in range(50):
                        time.sleep(0.2)
                        if not any(w is not None and w.name == title for w in app):
                            break
        except Exception as e:  # the registry restarting, a dialog closing meanwhile
            print("portal-answer:", e, file=sys.stderr, flush=True)
        time.sleep(0.2)


if __name__ == "__main__":
    main()
