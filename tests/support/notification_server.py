#!/usr/bin/python3
"""A small desktop notification service for the tests.

Run inside a private session bus (dbus-run-session). It takes the name
org.freedesktop.Notifications, writes one JSON line per Notify call to
OUTFILE (summary, body, urgency), then runs the program given after "--" and
exits with its exit code once it ends.

    notification_server.py OUTFILE -- PROGRAM [ARGS...]
"""
import json
import subprocess
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NAME = "org.freedesktop.Notifications"
PATH = "/org/freedesktop/Notifications"


class Service(dbus.service.Object):
    def __init__(self, bus, out):
        super().__init__(bus, PATH)
        self.out = out
        self.next_id = 1

    @dbus.service.method(NAME, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        urgency = int(hints.get("urgency", 1))
        self.out.write(json.dumps({"app": str(app), "summary": str(summary), "body": str(body),
                                   "urgency": urgency}) + "\n")
        self.out.flush()
        self.next_id += 1
        return self.next_id - 1

    @dbus.service.method(NAME, in_signature="", out_signature="as")
    def GetCapabilities(self):
        return ["body"]

    @dbus.service.method(NAME, in_signature="u", out_signature="")
    def CloseNotification(self, nid):
        pass

    @dbus.service.method(NAME, in_signature="", out_signature="ssss")
    def GetServerInformation(self):
        return ["kestrel-test", "kestrel", "1", "1.2"]


def main():
    out_path = sys.argv[1]
    program = sys.argv[sys.argv.index("--") + 1:]
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    with open(out_path, "w") as out:
        name = dbus.service.BusName(NAME, bus, do_not_queue=True)
        Service(bus, out)
        loop = GLib.MainLoop()
        child = subprocess.Popen(program)
        code = []

        def poll():
            if child.poll() is None:
                return True
            code.append(child.returncode)
            loop.quit()
            return False

        GLib.timeout_add(50, poll)
        loop.run()
        del name
    sys.exit(code[0] if code else 1)


if __name__ == "__main__":
    main()
