#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""What a screen reader gets from the MailBox window, through AT-SPI.

usage: mailbox_atspi.py rows TITLE [--count N] [--selected I,J]
       mailbox_atspi.py keys TITLE KEY...
       mailbox_atspi.py menu ITEM STEP_KEY key KEY | run PROGRAM ARG... | window TITLE KEY
       mailbox_atspi.py focus TITLE NAME KEY
       mailbox_atspi.py label TITLE REGEX
       mailbox_atspi.py uidl PORT USER      (password in $IW_POP3_PASSWORD)

rows   waits for the window titled TITLE of the application "Inboxwarden"
       and its list "Messages" (with N rows, and with exactly the rows I, J
       selected, when asked) and prints the list as JSON: the column headers
       and, per row, each cell's text and description.
keys   waits until the list of that window has the keyboard focus, then
       types the keys with xdotool.
menu   opens a menu with KEY, by running PROGRAM, or with KEY once the
       window titled TITLE has the keyboard, then types STEP_KEY
       until the menu item that has the focus is ITEM (as a screen reader
       hears each one), then Return. "A > B" walks to A, opens its submenu
       with Right and walks on to B.
focus  types KEY (a mnemonic) in the window titled TITLE and waits until
       the control named NAME has the keyboard focus.
label  waits until the window titled TITLE has a label whose text matches
       REGEX, and prints the text.
uidl   the POP3 server's unique ids, one a line (poplib: a plain client).

Every wait ends after $IW_ATSPI_TIMEOUT seconds (default 30) with exit 1
and the reason on standard error.
"""
import json
import os
import poplib
import re
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

LIMIT = float(os.environ.get("IW_ATSPI_TIMEOUT", "30"))


def fail(why):
    print("mailbox_atspi: " + why, file=sys.stderr)
    sys.exit(1)


def find(acc, pred, depth=0):
    """The first accessible below acc (depth first) for which pred holds."""
    if acc is None or depth > 12:
        return None
    try:
        if pred(acc):
            return acc
        children = [acc.getChildAtIndex(i) for i in range(acc.childCount)]
    except Exception:  # the object went away while we looked
        return None
    for child in children:
        hit = find(child, pred, depth + 1)
        if hit is not None:
            return hit
    return None


def the_list(title):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is None or app.name != "Inboxwarden":
            continue
        frame = find(app, lambda a: a.getRole() == pyatspi.ROLE_FRAME and a.name == title)
        if frame is not None:
            return find(frame, lambda a: a.name == "Messages" and a.getRole() in (
                pyatspi.ROLE_TREE, pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_TABLE))
    return None


def read_table(lst):
    table = lst.queryTable()
    headers = []
    for c in range(table.nColumns):
        h = table.getColumnHeader(c)
        headers.append(h.name if h is not None else "")
    rows, selected = [], []
    for r in range(table.nRows):
        cells = []
        for c in range(table.nColumns):
            cell = table.getAccessibleAt(r, c)
            cells.append({"text": cell.name, "description": cell.description})
        rows.append(cells)
        if table.isRowSelected(r):
            selected.append(r)
    return {"headers": headers, "rows": rows, "selected": selected}


def poll(what, probe):
    """probe() until it gives something; it may say what it saw in seen."""
    end = time.monotonic() + LIMIT
    seen = {"last": "nothing"}
    while time.monotonic() < end:
        try:
            found = probe(seen)
        except Exception as e:  # the window is being rebuilt: look again
            found, seen["last"] = None, str(e)
        if found is not None:
            return found
        time.sleep(0.1)
    fail("no %s within %g s; last saw %s" % (what, LIMIT, seen["last"]))


def rows(args):
    title, count, selected = args[0], None, None
    if "--count" in args:
        count = int(args[args.index("--count") + 1])
    if "--selected" in args:
        selected = [int(i) for i in args[args.index("--selected") + 1].split(",")]

    def probe(seen):
        lst = the_list(title)
        if lst is None:
            return None
        t = read_table(lst)
        seen["last"] = "%d rows, %s selected" % (len(t["rows"]), t["selected"])
        if count is not None and len(t["rows"]) != count:
            return None
        if selected is not None and t["selected"] != selected:
            return None
        return t
    print(json.dumps(poll("list \"Messages\" in \"%s\" as asked" % title, probe)))


def keys(args):
    title = args[0]
    # Without a window manager a closed window leaves the keyboard nowhere.
    subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % re.escape(title),
                    "windowfocus"],
                   stdin=subprocess.DEVNULL, timeout=LIMIT)

    def focused(seen):
        lst = the_list(title)
        return lst if lst is not None and lst.getState().contains(pyatspi.STATE_FOCUSED) else None
    poll("keyboard focus on the list of \"%s\"" % title, focused)
    subprocess.run(["xdotool", "key", "--delay", "50"] + args[1:], check=True,
                   stdin=subprocess.DEVNULL, timeout=LIMIT)


def menu(args):
    """Walks a menu with the keyboard as a screen reader user does: each
    step key moves the focus to an item, whose name the reader says."""
    path, step_key, how, opener = args[0].split(" > "), args[1], args[2], args[3:]
    heard = []
    state = {"opened": False, "sent": 0, "started": False, "error": None, "level": 0,
             "moved": 0.0, "presses": 0}

    def on_event(event):
        try:
            role = event.source.getRole()
            if not event.detail1:
                return
            if event.type.endswith("showing") and role in (pyatspi.ROLE_POPUP_MENU,
                                                            pyatspi.ROLE_MENU):
                state["opened"] = True
                state["moved"] = time.monotonic()
            elif event.type.endswith("focused") and role == pyatspi.ROLE_MENU_ITEM:
                heard.append(event.source.name)
                state["moved"] = time.monotonic()
        except Exception:
            return

    def key(k):
        subprocess.run(["xdotool", "key", k], check=True, stdin=subprocess.DEVNULL,
                       timeout=LIMIT)

    def stop(error=None):
        state["error"] = error
        pyatspi.Registry.stop()
        return False

    def open_menu():
        state.update(opened=False, sent=0, level=0, moved=time.monotonic())
        del heard[:]
        state["presses"] += 1
        if how == "key":
            key(opener[0])
        elif how == "window":
            give_keyboard(opener[0])
            key(opener[1])
        else:
            subprocess.run(opener, stdin=subprocess.DEVNULL, timeout=LIMIT)

    def tick():
        if not state["started"]:
            state["started"] = True
            open_menu()
        elif time.monotonic() - state["moved"] > 8:
            # Nothing heard for long: a busy machine lost a press or its
            # event, the program had not yet learnt that somebody listens (it
            # sends only the events listened for), or a window that took the
            # keyboard closed the menu. The walk starts again; a menu open
            # unheard is closed first, as the press would close it instead.
            if menu_showing():
                key("Escape")
            open_menu()
        elif not state["opened"] or len(heard) < state["sent"]:
            pass  # the menu or the last step has not been heard yet
        elif heard and heard[-1] == path[state["level"]]:
            if state["level"] == len(path) - 1:
                key("Return")
                return stop()
            # Into the submenu: its first item is heard next.
            state["level"] += 1
            state["sent"] = len(heard) + 1
            key("Right")
        elif len(heard) > 60:
            return stop("no item \"%s\" in the menu; heard %s" % (args[0], heard))
        else:
            key(step_key)
            state["sent"] += 1
        return True

    for event in ("object:state-changed:showing", "object:state-changed:focused"):
        pyatspi.Registry.registerEventListener(on_event, event)
    GLib.timeout_add(50, tick)
    GLib.timeout_add(int(LIMIT * 1000), lambda: stop(
        "the menu did not answer within %g s (%d presses to open it, the last one %s, a menu %s); "
        "heard %s" % (LIMIT, state["presses"], "heard" if state["opened"] else "not heard",
                      "showing" if menu_showing() else "not showing", heard)))
    pyatspi.Registry.start()
    if state["error"]:
        fail(state["error"])
    print(json.dumps(heard))


def give_keyboard(title):
    """Without a window manager nothing else sends the keyboard to a window.
    Waits (a few seconds at most) until the X server has given it: xdotool's
    own wait can hang on a busy machine while the program settles its focus."""
    def xdo(*args):
        return subprocess.run(["xdotool"] + list(args), capture_output=True, text=True,
                              stdin=subprocess.DEVNULL, timeout=LIMIT).stdout.split()
    ids = xdo("search", "--onlyvisible", "--name", "^%s$" % re.escape(title))
    if not ids:
        return
    until = time.monotonic() + 5
    while xdo("getwindowfocus") != ids[:1] and time.monotonic() < until:
        xdo("windowfocus", ids[0])
        time.sleep(0.1)


def menu_showing():
    """Whether a menu of the program is on screen, told or not."""
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == "Inboxwarden" and find(
                app, lambda a: a.getRole() in (pyatspi.ROLE_POPUP_MENU, pyatspi.ROLE_MENU)
                and a.getState().contains(pyatspi.STATE_SHOWING)) is not None:
            return True
    return False


def window(title):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == "Inboxwarden":
            frame = find(app, lambda a: a.getRole() in (pyatspi.ROLE_FRAME, pyatspi.ROLE_DIALOG)
                         and a.name == title)
            if frame is not None:
                return frame
    return None


def find_in_windows(title, pred):
    """The first accessible for which pred holds in any top-level window of
    that title (several, shown or not, may carry the program's name)."""
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is None or app.name != "Inboxwarden":
            continue
        for j in range(app.childCount):
            frame = app.getChildAtIndex(j)
            if frame is not None and frame.name == title:
                hit = find(frame, pred)
                if hit is not None:
                    return hit
    return None


def focus(args):
    """Moves the keyboard focus with KEY (a mnemonic) as a user does, once
    the window is there, and waits until the control named NAME has it."""
    title, name, key = args[0], args[1], args[2]
    state = {"pressed": False}

    def focused(seen):
        control = find_in_windows(
            title, lambda a: a.name == name and a.getRole() != pyatspi.ROLE_LABEL)
        if control is None:
            return None
        if control.getState().contains(pyatspi.STATE_FOCUSED):
            return control
        seen["last"] = "\"%s\" (%s) without the focus" % (name, control.getRoleName())
        if not state["pressed"]:
            state["pressed"] = True
            # Without a window manager nothing else sends the keyboard to
            # the window.
            subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % re.escape(title),
                            "windowfocus", "--sync"], stdin=subprocess.DEVNULL, timeout=LIMIT)
            subprocess.run(["xdotool", "key", key], check=True, stdin=subprocess.DEVNULL,
                           timeout=LIMIT)
        return None
    poll("keyboard focus on \"%s\" in \"%s\"" % (name, title), focused)


def label(args):
    title, pattern = args[0], re.compile(args[1])

    def probe(seen):
        labels = []

        def matches(a):
            if a.getRole() != pyatspi.ROLE_LABEL:
                return False
            labels.append(a.name)
            return pattern.search(a.name or "") is not None
        hit = find_in_windows(title, matches)
        if hit is None:
            seen["last"] = "the labels %s" % labels
            return None
        return hit.name
    print(poll("a label matching \"%s\" in \"%s\"" % (args[1], title), probe))


def uidl(args):
    port, user = int(args[0]), args[1]
    pop = poplib.POP3("127.0.0.1", port, timeout=LIMIT)
    pop.user(user)
    pop.pass_(os.environ["IW_POP3_PASSWORD"])
    for line in pop.uidl()[1]:
        print(line.decode().split()[1])
    pop.quit()


if __name__ == "__main__":
    if len(sys.argv) < 3 or sys.argv[1] not in ("rows", "keys", "menu", "focus", "label", "uidl"):
        fail("usage: see the top of this file")
    globals()[sys.argv[1]](sys.argv[2:])
