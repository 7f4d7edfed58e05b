#!/usr/bin/env bash
# Dictation on headless mutter, which offers neither a virtual keyboard nor a clipboard
# manager protocol: the paste is typed through the desktop portal (portal-gnome on a
# private session bus) after wl-copy has won the selection. GNOME asks the user once:
# the test answers the prompt with keys sent through mutter's own remote-desktop
# interface, and the second dictation is typed with no answer. The key comes from `zavren ptt`.
set -euo pipefail
USER_NAME=zavren-gnome-test DESKTOP=GNOME HERE=$(cd "$(dirname "$0")" && pwd)
[ -x "${3:-}" ] && [ -x "${4:-}" ] && [ -x /usr/libexec/xdg-desktop-portal ] &&
  [ -x /usr/libexec/xdg-desktop-portal-gnome ] && /usr/bin/python3 -c 'import gi' 2>/dev/null &&
  command -v mutter dbus-daemon wl-copy pulseaudio espeak-ng sox >/dev/null && [ "$(id -u)" = 0 ] ||
  { echo "SKIP: needs root, mutter, xdg-desktop-portal-gnome, python3-gi, wl-clipboard, pulseaudio, espeak-ng, sox"; exit 77; }
[ -n "${ZAVREN_WL_NETNS:-}" ] || ZAVREN_WL_NETNS=1 exec unshare -n "$0" "$@"
ip link set lo up
. "$HERE/../../../tools/desktop/portal_session.sh"
portal_begin zavren-gnome "$@" "$HERE/../../../tools/desktop/mutter_keys.py"
start "$ROOT/compositor.log" env DBUS_SESSION_BUS_ADDRESS=$BUS XDG_CURRENT_DESKTOP=GNOME \
  XDG_SESSION_TYPE=wayland mutter --headless --wayland --no-x11 --wayland-display=wayland-1 \
  --virtual-monitor 1280x800
portal_ready
# The first press opens the portal session; its prompt is answered while the key is
# held (Tab, Tab, Space, Alt+S) once it has taken the focus from the text box. The session that typed the answer stays as the desk's
# keyboard: wl-copy needs one to win the selection.
answer() {
  for _ in $(seq 100); do grep -q unfocused "$ROOT/box.log" && break; sleep 0.1; done
  start "$ROOT/keyboard.log" env DBUS_SESSION_BUS_ADDRESS=$BUS /usr/bin/python3 \
    "$ROOT/bin/mutter_keys.py" --asked --stay ff09 ff09 0020 ffe9+0073
  for _ in $(seq 150); do
    # The session started: the prompt is gone, and the focus goes back to the text box.
    grep -q portal-open-end "$ROOT/zavren.log" && sleep 1 && return 0
    sleep 0.1
  done
  cat "$ROOT/keyboard.log" >&3; return 1  # past wait_for's silence
}
exec 3>&1
# The target's read of wl-copy's offer is what tells the program the paste landed.
landed() { typed "$1" && [ "$(grep -c 听写已粘贴 "$ROOT/zavren.log")" = "$1" ]; }
wait_for 40 dictate answer
wait_for 20 landed 1
wait_for 40 dictate
wait_for 20 landed 2
echo "1 passed, 0 failed"
