#!/usr/bin/env bash
# Dictation on headless sway, per engine flavour: right Alt fires the bindings
# that call `zavren ptt`, the written-form answer lands in foot (Ctrl+Shift+V),
# the clipboard comes back and the recording is gone. sway refuses root, so all
# of it runs as a user made here, in a network of its own (fixed engine port).
set -euo pipefail
PROGRAM=$1 ENGINE=$2 USER_NAME=zavren-wl-test PREVIOUS=之前的剪贴板
for tool in sway wtype foot wl-copy pulseaudio unshare useradd; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done
[ "$(id -u)" = 0 ] || { echo "SKIP: needs root to make the test user"; exit 77; }
[ -n "${ZAVREN_WL_NETNS:-}" ] || ZAVREN_WL_NETNS=1 exec unshare -n "$0" "$@"
ip link set lo up
id "$USER_NAME" >/dev/null 2>&1 || useradd -r -M -d /nonexistent -s /usr/sbin/nologin "$USER_NAME"
ROOT=$(mktemp -d /tmp/zavren-wl-XXXXXX) PIDS=()
H=$ROOT/home RUN=$ROOT/run
kill_tree() {
  for child in $(pgrep -P "$1"); do kill_tree "$child"; done
  kill "$1" 2>/dev/null || true
}
cleanup() {
  for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do kill_tree "${PIDS[i]}"; done
  wait 2>/dev/null || true
  [ -n "${ZAVREN_WL_KEEP:-}" ] || rm -rf "$ROOT"
}
trap cleanup EXIT
wait_for() {  # SECONDS COMMAND...
  local end=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $end ] || { echo "FAIL: timed out waiting for: $*"; exit 1; }
    sleep 0.1
  done
}
as_user() {
  runuser -u "$USER_NAME" -- env -i PATH="$ROOT/bin:/usr/bin:/bin" HOME="$H" \
    XDG_RUNTIME_DIR="$RUN" WAYLAND_DISPLAY=wayland-1 FAKE_ENGINE_LOG="$H/requests.log" \
    SWAYSOCK="$(ls "$RUN"/sway-ipc.*.sock 2>/dev/null | head -1)" "$@"
}
start() {  # LOG COMMAND...: in the background
  as_user "${@:2}" >"$1" 2>&1 &
  PIDS+=($!)
}
foot_focused() { as_user swaymsg -t get_tree | grep -q '"app_id": "foot"'; }
clipboard_is() { [ "$(as_user wl-paste -n)" = "$1" ]; }
posts() { grep -c '"method":"POST"' "$H/requests.log" || true; }
# One virtual keyboard holds the key (one that goes away releases it). A press
# before the program has seen the engine answer only shows a hint: try again.
dictate() {
  local before; before=$(posts)
  as_user wtype -P alt_r -s 1500 -p alt_r
  for _ in $(seq 30); do [ "$(posts)" -gt "$before" ] && return 0; sleep 0.1; done
  return 1
}

chmod 755 "$ROOT"
install -d -o "$USER_NAME" -m 700 "$H" "$RUN"
install -d -o "$USER_NAME" "$ROOT/bin"
install -o "$USER_NAME" -m 755 "$PROGRAM" "$ENGINE" "$ROOT/bin/"
printf 'bindsym Alt_R exec %s ptt press\nbindsym --release Alt_R exec %s ptt release\n' \
  "$ROOT/bin/zavren" "$ROOT/bin/zavren" >"$ROOT/sway.conf"
start "$ROOT/sway.log" env WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
  sway -c "$ROOT/sway.conf"
wait_for 20 as_user swaymsg -t get_version
start "$ROOT/pulse.log" pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm=yes \
  -L module-native-protocol-unix -L "module-sine-source source_name=tone" -L module-always-sink
wait_for 20 test -S "$RUN/pulse/native"

for flavour in llama python; do
  echo "== $flavour"
  d=$H/.local/share/zavren/engine/engine-1.0.0
  script='{"answer": "我的电话是一三八零零一三八零零零"}'
  as_user sh -c "rm -rf $d; mkdir -p $d/bin $d/models $d/python/bin $H/.config/zavren
    printf '[General]\nzavren.privacy.hint.v1=bool:true\n' > $H/.config/zavren/settings.ini"
  if [ $flavour = llama ]; then
    as_user sh -c "cp $ROOT/bin/fake-engine $d/bin/llama-server; echo x > $d/models/mmproj.gguf
      echo '$script' > $d/models/qwen3-asr.gguf"
  else
    as_user sh -c "cp $ROOT/bin/fake-engine $d/python/bin/python3.13; echo '$script' > $d/voice_server.py"
  fi
  start "$ROOT/zavren-$flavour.log" env ZAVREN_TRACE=1 zavren
  wait_for 30 test -S "$RUN/zavren-ptt.sock"

  OUT=$H/pasted-$flavour.txt
  as_user swaymsg exec "foot sh -c 'stty -icanon; cat > $OUT'"
  wait_for 20 foot_focused
  printf %s "$PREVIOUS" | as_user wl-copy
  wait_for 40 dictate
  wait_for 20 grep -q 我的电话是13800138000 "$OUT"
  wait_for 10 clipboard_is "$PREVIOUS"
  [ ! -e "$RUN/zavren.wav" ] || { echo "FAIL: the recording outlived the dictation"; exit 1; }
  kill_tree "${PIDS[-1]}"
  as_user swaymsg kill >/dev/null
  wait_for 10 eval '! foot_focused'
  status=0; as_user zavren ptt press 2>/dev/null || status=$?
  [ "$status" = 3 ] || { echo "FAIL: ptt without a running program exited $status"; exit 1; }
done
echo "1 passed, 0 failed"
