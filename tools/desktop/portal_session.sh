# Sourced by the portal tests: what sway_session.sh sets up, plus a private session bus
# where the desktop portal and its backend start, for a compositor the caller starts.
# Set USER_NAME, DESKTOP (KDE, GNOME) and the test's arguments, then
# `portal_begin PREFIX PROGRAM ENGINE TEXT_BOX FEEDER [EXTRA...]`; then start the
# compositor on wayland-1 and call portal_ready (or portal_target, then portal_program).
. "$(dirname "${BASH_SOURCE[0]}")/sway_session.sh"

portal_begin() {
  session_begin "$1"
  BUS=unix:path=$RUN/bus OUT=$H/pasted.txt
  install -o "$USER_NAME" -m 755 "${@:2}" "$ROOT/bin/"
  espeak-ng -v zh -w "$ROOT/spoken.wav" "我的电话是一三八零零一三八零零零"
  sox "$ROOT/spoken.wav" -r 16000 -c 1 -b 16 "$ROOT/speech.wav" && chmod 644 "$ROOT/speech.wav"
  start "$ROOT/dbus.log" env XDG_CURRENT_DESKTOP=$DESKTOP dbus-daemon --session --nofork \
    --address=$BUS
  wait_for 10 test -S "$RUN/bus"
}
on_end() { cat "$ROOT"/zavren.log >>"${ZAVREN_WL_TRACE_OUT:-/dev/null}" 2>/dev/null; }
on_fail() {
  tail -n 20 "$ROOT"/*.log
  echo "clipboard: $(desk timeout 2 wl-paste -n 2>&1)"; cat "$OUT" 2>/dev/null
}
desk() { as_user env DBUS_SESSION_BUS_ADDRESS=$BUS XDG_CURRENT_DESKTOP=$DESKTOP "$@"; }

portal_ready() { portal_target; portal_program; }

# The microphone, the engine and a Qt text box, which takes the focus.
portal_target() {
  wait_for 20 test -S "$RUN/wayland-1"
  desk dbus-update-activation-environment WAYLAND_DISPLAY=wayland-1 XDG_CURRENT_DESKTOP=$DESKTOP \
    XDG_SESSION_TYPE=wayland
  start_pulse "module-pipe-source source_name=mic file=$RUN/mic.fifo format=s16le rate=16000 channels=1"
  as_user mkfifo -m 600 "$RUN/mic.ctl"
  start "$ROOT/feeder.log" zavren-vmic-feeder --fifo "$RUN/mic.fifo" --control "$RUN/mic.ctl" \
    --status "$RUN/mic.status"
  wait_for 10 test -s "$RUN/mic.status"
  install_engine llama 我的电话是一三八零零一三八零零零
  start "$ROOT/box.log" env DBUS_SESSION_BUS_ADDRESS=$BUS QT_QPA_PLATFORM=wayland zavren-text-box "$OUT"
}

portal_program() {
  start "$ROOT/zavren.log" env DBUS_SESSION_BUS_ADDRESS=$BUS XDG_CURRENT_DESKTOP=$DESKTOP \
    ZAVREN_TRACE=1 zavren
  wait_for 30 test -S "$RUN/zavren-ptt.sock"
}

posts() { grep -c '"method":"POST"' "$H/requests.log" 2>/dev/null || true; }
# The key through `zavren ptt`, the sample playing while it is held. ANSWER, when
# given, is a command run while the key is held (a prompt to answer).
dictate() {  # [ANSWER...]
  local before; before=$(posts)
  as_user sh -c "echo play $ROOT/speech.wav >$RUN/mic.ctl"
  desk zavren ptt press
  sleep 1.5
  [ $# = 0 ] || "$@"
  desk zavren ptt release
  for _ in $(seq 30); do [ "$(posts)" -gt "$before" ] && return 0; sleep 0.1; done
  return 1
}
typed() {  # COUNT: the transcript has landed that many times
  [ "$(grep -o 13800138000 "$OUT" 2>/dev/null | wc -l)" = "$1" ]
}
