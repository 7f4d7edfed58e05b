#!/usr/bin/env bash
# Dictation on headless mutter, which offers neither a virtual keyboard nor a clipboard
# manager protocol: the paste is typed through the desktop portal (portal-gnome on a
# private session bus). GNOME asks the user once: the test answers the prompt with a
# key sent through mutter's own remote-desktop interface, and the second dictation is
# typed without a prompt. The key comes from `zavren ptt`.
set -euo pipefail
USER_NAME=zavren-gnome-test DESKTOP=GNOME HERE=$(cd "$(dirname "$0")" && pwd)
[ -x "${3:-}" ] && [ -x "${4:-}" ] && [ -x /usr/libexec/xdg-desktop-portal ] &&
  [ -x /usr/libexec/xdg-desktop-portal-gnome ] && /usr/bin/python3 -c 'import gi' 2>/dev/null &&
  command -v mutter dbus-daemon wl-copy pulseaudio espeak-ng sox >/dev/null && [ "$(id -u)" = 0 ] ||
  { echo "SKIP: needs root, mutter, xdg-desktop-portal-gnome, python3-gi, wl-clipboard, pulseaudio, espeak-ng, sox"; exit 77; }
[ -n "${ZAVREN_WL_NETNS:-}" ] || ZAVREN_WL_NETNS=1 exec unshare -n "$0" "$@"
ip link set lo up
. "$HERE/portal_session.sh"
portal_begin zavren-gnome "$@" "$HERE/mutter_keys.py"
start "$ROOT/compositor.log" env DBUS_SESSION_BUS_ADDRESS=$BUS XDG_CURRENT_DESKTOP=GNOME \
  XDG_SESSION_TYPE=wayland mutter --headless --wayland --no-x11 --wayland-display=wayland-1 \
  --virtual-monitor 1280x800
portal_ready
# The first press opens the portal session: its prompt is answered while the key is held.
wait_for 40 dictate desk /usr/bin/python3 "$ROOT/bin/mutter_keys.py" ${ZAVREN_GNOME_ANSWER:-ff0d}
wait_for 20 typed 1
wait_for 40 dictate
wait_for 20 typed 2
echo "1 passed, 0 failed"
