#!/usr/bin/python3
"""Presses keys into headless mutter through its own remote-desktop interface, as a
user at the keyboard would: the tests answer the portal's approval prompt with it.
usage: mutter_keys.py KEYSYM... (hex), each pressed and released in turn."""
import sys
import time

from gi.repository import Gio, GLib

bus = Gio.bus_get_sync(Gio.BusType.SESSION)


def call(path, interface, method, args=None, reply=None):
    return bus.call_sync("org.gnome.Mutter.RemoteDesktop", path, interface, method, args, reply,
                         Gio.DBusCallFlags.NONE, 5000, None)


SESSION = "org.gnome.Mutter.RemoteDesktop.Session"
session = call("/org/gnome/Mutter/RemoteDesktop", "org.gnome.Mutter.RemoteDesktop",
               "CreateSession", None, GLib.VariantType("(o)")).unpack()[0]
call(session, SESSION, "Start")
for key in sys.argv[1:]:
    for pressed in (True, False):
        call(session, SESSION, "NotifyKeyboardKeysym", GLib.Variant("(ub)", (int(key, 16), pressed)))
    time.sleep(0.3)
call(session, SESSION, "Stop")
