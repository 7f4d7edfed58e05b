#!/usr/bin/env bash
# Dictation on headless mutter, which offers neither a virtual keyboard nor a clipboard
# manager protocol: the paste is typed through the desktop portal (portal-gnome on a
# private session bus) after wl-copy has won the selection. GNOME asks the user once:
# the test answers the prompt with keys sent through mutter's own remote-desktop
# interface, and both dictations are typed with no other answer. The key comes from `zavren ptt`.
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
portal_target
# The text box holds the focus before the program starts, so the focus can only go from
# it to the prompt; the keyboard is on the seat before any window that needs it.
focus() { [ "$(grep -xE '(un)?focused' "$ROOT/box.log" | tail -n 1)" = "$1" ]; }
wait_for 20 focus focused
as_user mkfifo -m 600 "$RUN/keys"
start "$ROOT/keyboard.log" sh -c "exec env DBUS_SESSION_BUS_ADDRESS=$BUS \
  /usr/bin/python3 $ROOT/bin/mutter_keys.py <$RUN/keys"
exec 4<>"$RUN/keys"
wait_for 20 grep -qx ready "$ROOT/keyboard.log"
portal_program
# The program opens its portal session as it starts; GNOME asks, and its prompt takes the
# focus from the text box. Only then do the keys go: Tab from Cancel, which has the focus,
# to "Allow remote interaction", Space to allow it, Alt+S to share.
trace() { grep -q "zavren-trace [0-9.]* $1" "$ROOT/zavren.log"; }
wait_for 30 trace portal-open-begin
wait_for 30 focus unfocused
! trace portal-open-end || fail "the portal session opened before its prompt was answered"
echo ff09 0020 ffe9+0073 >&4
wait_for 20 eval 'trace portal-open-end || grep -q 用户拒绝 "$ROOT/zavren.log"'
trace portal-open-end || fail "the prompt's answer refused the session"
wait_for 10 focus focused
# Once the engine is up a press is heard: one press per dictation, or a lost one would hide.
wait_for 30 trace "http-done 200"
# The target holds the transcript N times and nothing else (no key of the answer), and the
# program says it pasted N times.
landed() {
  [ "$(cat "$OUT")" = "$(printf '我的电话是13800138000%.0s' $(seq "$1"))" ] &&
    [ "$(grep -c 听写已粘贴 "$ROOT/zavren.log")" = "$1" ]
}
for n in 1 2; do
  dictate || wait_for 20 eval '[ "$(posts)" -ge '$n' ]'
  wait_for 20 landed $n
done
# The second dictation used the session the first answer opened: nothing asked again.
[ "$(grep -c portal-open-begin "$ROOT/zavren.log")" = 1 ] || fail "a second portal session was opened"
echo "1 passed, 0 failed"
