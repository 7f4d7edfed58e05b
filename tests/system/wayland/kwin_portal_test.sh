#!/usr/bin/env bash
# Dictation on headless KWin, which offers no virtual keyboard: the paste is typed through
# the desktop portal (portal-kde on a private session bus) into a Qt text box, and the
# previous clipboard comes back. The key comes from `zavren ptt`: a held key cannot be
# pressed into a headless KWin from outside.
set -euo pipefail
USER_NAME=zavren-kwin-test DESKTOP=KDE PREVIOUS=之前的剪贴板
[ -x "${3:-}" ] && [ -x "${4:-}" ] && [ -x /usr/libexec/xdg-desktop-portal ] &&
  [ -x /usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-kde ] &&
  command -v kwin_wayland dbus-daemon wl-copy pulseaudio espeak-ng sox >/dev/null && [ "$(id -u)" = 0 ] ||
  { echo "SKIP: needs root, kwin-wayland, xdg-desktop-portal-kde, wl-clipboard, pulseaudio, espeak-ng, sox"; exit 77; }
[ -n "${ZAVREN_WL_NETNS:-}" ] || ZAVREN_WL_NETNS=1 exec unshare -n "$0" "$@"
ip link set lo up
. "$(dirname "$0")/../../../tools/desktop/portal_session.sh"
portal_begin zavren-kwin "$@"
# The copy has no file capability, which keeps an ordinary user from starting KWin.
cp /usr/bin/kwin_wayland "$ROOT/bin/" && chmod 755 "$ROOT/bin/kwin_wayland"
start "$ROOT/compositor.log" env DBUS_SESSION_BUS_ADDRESS=$BUS XDG_CURRENT_DESKTOP=KDE KWIN_COMPOSE=Q \
  kwin_wayland --virtual --socket wayland-1 --width 1280 --height 800 --no-lockscreen
portal_ready
printf %s "$PREVIOUS" | desk wl-copy
wait_for 40 dictate
wait_for 20 typed 1
wait_for 10 eval '[ "$(desk wl-paste -n)" = "$PREVIOUS" ]'
wait_for 40 dictate
wait_for 20 typed 2
echo "1 passed, 0 failed"
