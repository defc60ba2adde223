#!/usr/bin/python3
"""A desktop notification service for the tests.

Usage: notification_server.py   (on the bus of DBUS_SESSION_BUS_ADDRESS)

Owns org.freedesktop.Notifications and serves /org/freedesktop/Notifications:
Notify answers with a new id (or the id it was asked to replace) and prints
the call as one JSON line on standard output:
  {"app": ..., "replaces": N, "icon": ..., "summary": ..., "body": ...,
   "actions": [...], "hints": {"name": "value as text", ...}, "timeout": N, "id": N}
GetCapabilities, GetServerInformation and CloseNotification answer as a
simple service does. Prints "ready" once it owns the name.
"""
import json
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

NAME = "org.freedesktop.Notifications"


class Notifications(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.last = 0

    @dbus.service.method(NAME, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        if replaces:
            nid = int(replaces)
        else:
            self.last += 1
            nid = self.last
        print(json.dumps({"app": str(app), "replaces": int(replaces), "icon": str(icon),
                          "summary": str(summary), "body": str(body),
                          "actions": [str(a) for a in actions],
                          "hints": {str(k): str(v) for k, v in hints.items()},
                          "timeout": int(timeout), "id": nid}), flush=True)
        return dbus.UInt32(nid)

    @dbus.service.method(NAME, out_signature="as")
    def GetCapabilities(self):
        return ["body"]

    @dbus.service.method(NAME, out_signature="ssss")
    def GetServerInformation(self):
        return ("test-notifications", "wavetrap tests", "1", "1.2")

    @dbus.service.method(NAME, in_signature="u")
    def CloseNotification(self, nid):
        pass


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    name = dbus.service.BusName(NAME, bus, do_not_queue=True)
    service = Notifications(bus)
    print("ready", flush=True)
    loop = GLib.MainLoop()
    loop.run()
    del name, service


if __name__ == "__main__":
    sys.exit(main())
