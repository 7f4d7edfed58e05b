#!/usr/bin/python3
"""Presses keys into headless mutter through its own remote-desktop interface, as a
user at the keyboard would: the tests answer the portal's approval prompt with it.
usage: mutter_keys.py [--asked] [--stay] KEY... where a KEY is a keysym in hex, or
keysyms joined by + held together (ffe9+73: Alt+S); each KEY is pressed and released in
turn. With --asked the keys wait until portal-gnome shows a prompt.
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


def asking(path="/org/freedesktop/portal/desktop/request"):
    """Whether portal-gnome holds an unanswered request (a prompt) under path."""
    try:
        xml = bus.call_sync("org.freedesktop.impl.portal.desktop.gnome", path,
                            "org.freedesktop.DBus.Introspectable", "Introspect", None,
                            GLib.VariantType("(s)"), Gio.DBusCallFlags.NONE, 2000,
                            None).unpack()[0]
    except GLib.Error:
        return False
    node = Gio.DBusNodeInfo.new_for_xml(xml)
    if any(i.name == "org.freedesktop.impl.portal.Request" for i in node.interfaces):
        return True
    return any(asking(path + "/" + child.path) for child in node.nodes)


args = sys.argv[1:]
asked = "--asked" in args
stay = "--stay" in args
keys = [a for a in args if not a.startswith("--")]
if asked:
    for _ in range(100):
        if asking():
            break
        time.sleep(0.1)
    else:
        sys.exit("no prompt")
    time.sleep(0.3)  # for the dialog to draw its buttons
SESSION = "org.gnome.Mutter.RemoteDesktop.Session"
session = call("/org/gnome/Mutter/RemoteDesktop", "org.gnome.Mutter.RemoteDesktop",
               "CreateSession", None, GLib.VariantType("(o)")).unpack()[0]
call(session, SESSION, "Start")
for key in keys:
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
