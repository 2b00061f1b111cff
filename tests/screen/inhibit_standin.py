#!/usr/bin/python3
"""Stands in for the desktop's idle inhibitors on a test's session bus and records the calls.

Usage: inhibit_standin.py LOG SERVICE... where SERVICE is portal, screensaver or gnome. Only the
services named are on the bus. Each call adds one line to LOG: "portal Inhibit 8",
"screensaver UnInhibit", ..., and after it "held N", the inhibits still held. A client that
leaves the bus loses its inhibits, as with the real services. "ready" follows once the names
are owned.
"""
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

log_path = sys.argv[1]
wanted = set(sys.argv[2:])
DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
held = {}  # key -> sender
counter = [0]


def record(line):
    with open(log_path, "a") as log:
        log.write(line + "\n")


def take(service, sender):
    counter[0] += 1
    held[(service, counter[0])] = sender
    record(f"held {len(held)}")
    return counter[0]


def give_back(service, number):
    held.pop((service, int(number)), None)
    record(f"held {len(held)}")


def owner_changed(name, old, new):
    if old and not new:
        for key in [k for k, sender in held.items() if sender == name]:
            del held[key]
            record(f"left {name} held {len(held)}")


bus.add_signal_receiver(owner_changed, "NameOwnerChanged", "org.freedesktop.DBus")


class Request(dbus.service.Object):
    def __init__(self, path, number):
        super().__init__(bus, path)
        self.number = number

    @dbus.service.method("org.freedesktop.portal.Request")
    def Close(self):
        record("portal Close")
        give_back("portal", self.number)
        self.remove_from_connection()


class Portal(dbus.service.Object):
    @dbus.service.method("org.freedesktop.portal.Inhibit", in_signature="sua{sv}",
                         out_signature="o", sender_keyword="sender")
    def Inhibit(self, window, flags, options, sender=None):
        record(f"portal Inhibit {flags}")
        number = take("portal", sender)
        path = f"/org/freedesktop/portal/desktop/request/test/{number}"
        Request(path, number)
        return dbus.ObjectPath(path)


class ScreenSaver(dbus.service.Object):
    @dbus.service.method("org.freedesktop.ScreenSaver", in_signature="ss", out_signature="u",
                         sender_keyword="sender")
    def Inhibit(self, app, reason, sender=None):
        record("screensaver Inhibit")
        return take("screensaver", sender)

    @dbus.service.method("org.freedesktop.ScreenSaver", in_signature="u")
    def UnInhibit(self, cookie):
        record("screensaver UnInhibit")
        give_back("screensaver", cookie)


class SessionManager(dbus.service.Object):
    @dbus.service.method("org.gnome.SessionManager", in_signature="susu", out_signature="u",
                         sender_keyword="sender")
    def Inhibit(self, app, xid, reason, flags, sender=None):
        record(f"gnome Inhibit {flags}")
        return take("gnome", sender)

    @dbus.service.method("org.gnome.SessionManager", in_signature="u")
    def Uninhibit(self, cookie):
        record("gnome Uninhibit")
        give_back("gnome", cookie)


Portal(bus, "/org/freedesktop/portal/desktop")
ScreenSaver(bus, "/org/freedesktop/ScreenSaver")
SessionManager(bus, "/org/gnome/SessionManager")
names = {"portal": "org.freedesktop.portal.Desktop", "screensaver": "org.freedesktop.ScreenSaver",
         "gnome": "org.gnome.SessionManager"}
owned = [dbus.service.BusName(names[service], bus) for service in sorted(wanted)]
record("ready")
GLib.MainLoop().run()
