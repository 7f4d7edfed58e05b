#!/usr/bin/python3
"""A keyboard on headless mutter, pressed through mutter's own remote-desktop interface as
a user at the desk would: the tests answer the portal's approval prompt with it.
usage: mutter_keys.py, then lines of KEYs on stdin. A KEY is a keysym in hex, or keysyms
joined by + held together (ffe9+73: Alt+S); the KEYs of a line are pressed and released in
turn, then "typed" is printed. The session ends with stdin.
Headless mutter's seat has a keyboard only while such a session exists and has typed, so
Shift is tapped first ("ready" then): from then on every window that takes the focus gets
the first key sent to it, and wl-copy can take the focus it needs to own the selection."""
import sys
import time

from gi.repository import Gio, GLib

SHIFT = 0xffe1
SESSION = "org.gnome.Mutter.RemoteDesktop.Session"
bus = Gio.bus_get_sync(Gio.BusType.SESSION)


def call(path, interface, method, args=None, reply=None):
    return bus.call_sync("org.gnome.Mutter.RemoteDesktop", path, interface, method, args, reply,
                         Gio.DBusCallFlags.NONE, 5000, None)


def press(session, syms):
    for sym in syms:
        call(session, SESSION, "NotifyKeyboardKeysym", GLib.Variant("(ub)", (sym, True)))
    for sym in reversed(syms):
        call(session, SESSION, "NotifyKeyboardKeysym", GLib.Variant("(ub)", (sym, False)))


session = call("/org/gnome/Mutter/RemoteDesktop", "org.gnome.Mutter.RemoteDesktop",
               "CreateSession", None, GLib.VariantType("(o)")).unpack()[0]
call(session, SESSION, "Start")
press(session, [SHIFT])
print("ready", flush=True)
for line in sys.stdin:
    for key in line.split():
        press(session, [int(k, 16) for k in key.split("+")])
        time.sleep(0.3)  # at a hand's pace, as the dialog was made for
    print("typed", flush=True)
call(session, SESSION, "Stop")
