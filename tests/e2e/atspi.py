# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
"""Drives the bar as a screen reader does, through AT-SPI (Debian's python3-pyatspi,
so run it with /usr/bin/python3). Every control is found by its accessible name.

Usage: atspi.py COMMAND NAME [ARG]
  wait NAME [SECONDS]    until something named NAME is showing
  gone NAME [SECONDS]    until nothing named NAME is showing
  press NAME             its first action (press a button, trigger a menu entry)
  set-text NAME TEXT     replaces the text of the editable field named NAME
Exit status 0 on success; 1 with a line on stderr otherwise.
"""
import sys
import time

import pyatspi

APP = "QuorvelOlvane"


def apps():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == APP:
            yield app


def showing(acc):
    try:
        return acc.getState().contains(pyatspi.STATE_SHOWING)
    except Exception:  # gone while we looked
        return False


def find(name):
    for app in apps():
        found = pyatspi.utils.findDescendant(app, lambda a: a is not None and a.name == name and showing(a))
        if found is not None:
            return found
    return None


def poll(test, seconds):
    deadline = time.monotonic() + seconds
    while True:
        result = test()
        if result or time.monotonic() > deadline:
            return result
        time.sleep(0.2)


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    command, name = argv[1], argv[2]
    seconds = float(argv[3]) if command in ("wait", "gone") and len(argv) > 3 else 10.0
    if command == "wait":
        if not poll(lambda: find(name) is not None, seconds):
            sys.exit(f"FAIL: nothing named {name!r} showed up")
    elif command == "gone":
        if not poll(lambda: find(name) is None, seconds):
            sys.exit(f"FAIL: {name!r} is still showing")
    elif command == "press":
        acc = poll(lambda: find(name), 10.0)
        if acc is None:
            sys.exit(f"FAIL: nothing named {name!r} to press")
        action = acc.queryAction()
        if action.nActions < 1:
            sys.exit(f"FAIL: {name!r} has no action")
        action.doAction(0)
    elif command == "set-text":
        acc = poll(lambda: find(name), 10.0)
        if acc is None:
            sys.exit(f"FAIL: no field named {name!r}")
        if not acc.queryEditableText().setTextContents(argv[3]):
            sys.exit(f"FAIL: {name!r} took no text")
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
