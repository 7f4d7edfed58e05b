#!/usr/bin/env bash
# Dictation on headless sway, once per engine flavour: right Alt through the
# compositor fires the bindings that call `zavren ptt`, the answer (in written
# form) lands in foot by Ctrl+Shift+V, the clipboard is back afterwards and the
# recording is gone. sway refuses root: everything runs as a user made here.
set -euo pipefail
PROGRAM=$1 ENGINE=$2
ANSWER=我的电话是一三八零零一三八零零零 WRITTEN=我的电话是13800138000 PREVIOUS=之前的剪贴板
for tool in sway wtype foot wl-copy pulseaudio unshare useradd; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done
[ "$(id -u)" = 0 ] || { echo "SKIP: needs root to make the test user"; exit 77; }
# The engine port is fixed: a network of our own, with only loopback.
if [ -z "${ZAVREN_WL_NETNS:-}" ]; then
  ZAVREN_WL_NETNS=1 exec unshare -n "$0" "$@"
fi
ip link set lo up

USER_NAME=zavren-wl-test
id "$USER_NAME" >/dev/null 2>&1 || useradd -r -M -d /nonexistent -s /usr/sbin/nologin "$USER_NAME"
ROOT=$(mktemp -d /tmp/zavren-wl-XXXXXX)
chmod 755 "$ROOT"
PIDS=()
kill_tree() {  # the process and everything it started, children first
  local child
  for child in $(pgrep -P "$1"); do kill_tree "$child"; done
  kill "$1" 2>/dev/null || true
}
cleanup() {
  for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do kill_tree "${PIDS[i]}"; done
  wait 2>/dev/null || true
  [ -n "${ZAVREN_WL_KEEP:-}" ] || rm -rf "$ROOT"
}
trap cleanup EXIT

wait_for() {  # wait_for SECONDS COMMAND...: polls until the command succeeds
  local end=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $end ] || { echo "FAIL: timed out waiting for: $*"; exit 1; }
    sleep 0.1
  done
}

H=$ROOT/home RUN=$ROOT/run
install -d -o "$USER_NAME" -m 700 "$H" "$RUN"
install -d -o "$USER_NAME" "$ROOT/bin"
install -o "$USER_NAME" -m 755 "$PROGRAM" "$ENGINE" "$ROOT/bin/"
cat > "$ROOT/sway.conf" <<CONF
bindsym Alt_R exec $ROOT/bin/zavren ptt press
bindsym --release Alt_R exec $ROOT/bin/zavren ptt release
CONF
as_user() {
  runuser -u "$USER_NAME" -- env -i PATH="$ROOT/bin:/usr/bin:/bin" HOME="$H" \
    XDG_RUNTIME_DIR="$RUN" WAYLAND_DISPLAY=wayland-1 FAKE_ENGINE_LOG="$H/requests.log" \
    SWAYSOCK="$(ls "$RUN"/sway-ipc.*.sock 2>/dev/null | head -1)" "$@"
}
start() {  # start LOG COMMAND...: a background process of the test user, pid in PIDS
  local log=$1; shift
  runuser -u "$USER_NAME" -- env -i PATH="$ROOT/bin:/usr/bin:/bin" HOME="$H" \
    XDG_RUNTIME_DIR="$RUN" WAYLAND_DISPLAY=wayland-1 FAKE_ENGINE_LOG="$H/requests.log" \
    SWAYSOCK="$(ls "$RUN"/sway-ipc.*.sock 2>/dev/null | head -1)" "$@" >"$log" 2>&1 &
  PIDS+=($!)
}

start "$ROOT/sway.log" env WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
  sway -c "$ROOT/sway.conf"
wait_for 20 test -S "$RUN/wayland-1"
wait_for 20 as_user swaymsg -t get_version
start "$ROOT/pulse.log" pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm=yes \
  -L module-native-protocol-unix -L "module-null-sink sink_name=silence" -L module-always-sink
wait_for 20 test -S "$RUN/pulse/native"

install_engine() {  # the test engine as the given flavour, answering ANSWER
  local e=$H/.local/share/zavren/engine
  as_user rm -rf "$e"
  local d=$e/engine-1.0.0
  as_user mkdir -p "$d/bin" "$d/models" "$d/python/bin" "$H/.config/zavren"
  if [ "$1" = llama ]; then
    as_user cp "$ROOT/bin/fake-engine" "$d/bin/llama-server"
    as_user sh -c "echo '{\"answer\": \"$ANSWER\"}' > $d/models/qwen3-asr.gguf; echo x > $d/models/mmproj.gguf"
  else
    as_user cp "$ROOT/bin/fake-engine" "$d/python/bin/python3.13"
    as_user sh -c "echo '{\"answer\": \"$ANSWER\"}' > $d/voice_server.py"
  fi
  as_user sh -c "printf '[General]\nzavren.privacy.hint.v1=bool:true\n' > $H/.config/zavren/settings.ini"
}

clipboard_is() { [ "$(as_user wl-paste -n 2>/dev/null)" = "$1" ]; }
grep_q() { grep -q "$1" "$2"; }
posts() { grep -c '"method":"POST"' "$H/requests.log" 2>/dev/null || true; }
# Holds right Alt for 1.5 s in one virtual keyboard (one that goes away releases
# its keys). A press before the program has seen the engine only shows a hint.
dictate() {
  local before; before=$(posts)
  as_user wtype -P alt_r -s 1500 -p alt_r
  for _ in $(seq 30); do [ "$(posts)" -gt "$before" ] && return 0; sleep 0.1; done
  return 1
}
focused_foot() { as_user swaymsg -t get_tree -r | grep -q '"app_id": "foot"'; }


for flavour in llama python; do
  echo "== $flavour"
  install_engine "$flavour"
  start "$ROOT/zavren-$flavour.log" env ZAVREN_TRACE=1 zavren
  PROGRAM_PID=${PIDS[-1]}
  wait_for 30 grep_q listening "$H/.local/state/zavren/server.log"
  wait_for 10 test -S "$RUN/zavren-ptt.sock"

  OUT=$H/pasted-$flavour.txt
  as_user swaymsg exec "foot sh -c 'stty -icanon; cat > $OUT'" >/dev/null
  wait_for 20 focused_foot
  printf %s "$PREVIOUS" | as_user wl-copy
  wait_for 40 dictate
  wait_for 20 grep_q "$WRITTEN" "$OUT"
  wait_for 10 clipboard_is "$PREVIOUS"
  [ ! -e "$RUN/zavren.wav" ] || { echo "FAIL: the recording outlived the dictation"; exit 1; }
  # Commands reach only a running program; without one they say so.
  kill_tree "$PROGRAM_PID"; wait "$PROGRAM_PID" || true
  status=0; as_user zavren ptt press 2>/dev/null || status=$?
  [ "$status" = 3 ] || { echo "FAIL: ptt without a program exited $status"; exit 1; }
  as_user swaymsg kill >/dev/null
done
echo "1 passed, 0 failed"
