#!/usr/bin/python3
"""Presses keys into headless mutter through its own remote-desktop interface, as a
user at the keyboard would: the tests answer the portal's approval prompt with it.
usage: mutter_keys.py [--stay] KEY... where a KEY is a keysym in hex, or keysyms joined
by + held together (ffe9+73: Alt+S); each KEY is pressed and released in turn.
Headless mutter's seat has a keyboard only while such a session exists and has typed:
with --stay the session stays until the script is killed, as a desk's keyboard would."""
import signal
import sys
import time

from gi.repository import Gio, GLib

bus = Gio.bus_get_sync(Gio.BusType.SESSION)


def call(path, interface, method, args=None, reply=None):
    return bus.call_sync("org.gnome.Mutter.RemoteDesktop", path, interface, method, args, reply,
                         Gio.DBusCallFlags.NONE, 5000, None)


stay = sys.argv[1:2] == ["--stay"]
SESSION = "org.gnome.Mutter.RemoteDesktop.Session"
session = call("/org/gnome/Mutter/RemoteDesktop", "org.gnome.Mutter.RemoteDesktop",
               "CreateSession", None, GLib.VariantType("(o)")).unpack()[0]
call(session, SESSION, "Start")
for key in sys.argv[1 + stay:]:
    syms = [int(k, 16) for k in key.split("+")]
    for sym in syms:
        call(session, SESSION, "NotifyKeyboardKeysym", GLib.Variant("(ub)", (sym, True)))
    for sym in reversed(syms):
        call(session, SESSION, "NotifyKeyboardKeysym", GLib.Variant("(ub)", (sym, False)))
    time.sleep(0.3)
if stay:
    print("ready", flush=True)
    signal.sigwait({signal.SIGTERM, signal.SIGINT})
call(session, SESSION, "Stop")
