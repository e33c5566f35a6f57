#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# A small notification service for the tests, on the session bus given by
# DBUS_SESSION_BUS_ADDRESS: it keeps every Notify call it gets and, on the
# test's request, reports an action as invoked or a notification as closed,
# as a desktop's service does when the user clicks.
#
#   notify_server.py [CAPABILITY,...]   (default: actions,body,body-markup)
#
# The test reads what it got through org.inboxwarden.TestNotifications:
# Calls() -> the Notify calls as JSON, Invoke(id, key), Dismiss(id).
import json
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

NAME = "org.freedesktop.Notifications"
PATH = "/org/freedesktop/Notifications"
CONTROL = "org.inboxwarden.TestNotifications"


def plain(value):
    if isinstance(value, (dbus.String, str)):
        return str(value)
    if isinstance(value, (dbus.Boolean, bool)):
        return bool(value)
    if isinstance(value, (int, dbus.Byte)):
        return int(value)
    return repr(value)


class Server(dbus.service.Object):
    def __init__(self, bus, capabilities):
        super().__init__(bus, PATH)
        self.capabilities = capabilities
        self.calls = []
        self.shown = set()
        self.next_id = 1

    @dbus.service.method(NAME, in_signature="", out_signature="as")
    def GetCapabilities(self):
        return self.capabilities

    @dbus.service.method(NAME, in_signature="", out_signature="ssss")
    def GetServerInformation(self):
        return ("test-notifications", "inboxwarden tests", "1", "1.2")

    @dbus.service.method(NAME, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        if replaces and replaces in self.shown:
            nid = int(replaces)
        else:
            nid = self.next_id
            self.next_id += 1
        self.shown.add(nid)
        self.calls.append({
            "id": nid, "app": str(app), "replaces": int(replaces), "icon": str(icon),
            "summary": str(summary), "body": str(body), "actions": [str(a) for a in actions],
            "hints": {str(k): plain(v) for k, v in hints.items()}, "timeout": int(timeout)})
        return nid

    @dbus.service.method(NAME, in_signature="u", out_signature="")
    def CloseNotification(self, nid):
        if nid in self.shown:
            self.shown.discard(nid)
            self.NotificationClosed(nid, 3)

    @dbus.service.signal(NAME, signature="uu")
    def NotificationClosed(self, nid, reason):
        pass

    @dbus.service.signal(NAME, signature="us")
    def ActionInvoked(self, nid, key):
        pass

    @dbus.service.method(CONTROL, in_signature="", out_signature="s")
    def Calls(self):
        return json.dumps(self.calls)

    @dbus.service.method(CONTROL, in_signature="us", out_signature="")
    def Invoke(self, nid, key):
        # A service closes a notification whose action was chosen.
        self.ActionInvoked(nid, key)
        self.shown.discard(nid)
        self.NotificationClosed(nid, 2)

    @dbus.service.method(CONTROL, in_signature="u", out_signature="")
    def Dismiss(self, nid):
        self.shown.discard(nid)
        self.NotificationClosed(nid, 2)


def main():
    caps = sys.argv[1].split(",") if len(sys.argv) > 1 else ["actions", "body", "body-markup"]
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    server = Server(bus, [c for c in caps if c])
    name = dbus.service.BusName(NAME, bus, do_not_queue=True)
    GLib.MainLoop().run()
    del server, name


if __name__ == "__main__":
    main()
