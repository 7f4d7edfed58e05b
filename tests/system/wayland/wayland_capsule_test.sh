#!/usr/bin/env bash
# The capsule on headless sway (output scale 2): on screen while a dictation runs, gone
# after it, and meanwhile the focused window stays the one the text is pasted into.
# As a user made here (sway refuses root), in a network of its own (fixed engine port).
# ZAVREN_WL_SHOT=FILE.png keeps a screenshot of the capsule.
set -euo pipefail
PROGRAM=$1 ENGINE=$2 USER_NAME=zavren-wl-capsule made_user=
command -v sway wtype foot grim pulseaudio python3 curl >/dev/null && [ "$(id -u)" = 0 ] ||
  { echo "SKIP: needs root, sway, wtype, foot, grim, python3, curl and pulseaudio"; exit 77; }
[ -n "${ZAVREN_WL_NETNS:-}" ] || ZAVREN_WL_NETNS=1 exec unshare -n "$0" "$@"
ip link set lo up
id "$USER_NAME" >/dev/null 2>&1 || { useradd -r -M -d /nonexistent -s /usr/sbin/nologin "$USER_NAME" && made_user=1; }
ROOT=$(mktemp -d /tmp/zavren-wlc-XXXXXX) PIDS=() && H=$ROOT/home RUN=$ROOT/run OUT=$ROOT/home/pasted.txt
kill_tree() { for c in $(pgrep -P "$1"); do kill_tree "$c"; done; kill "$1" 2>/dev/null || true; }
trap 'for p in "${PIDS[@]}"; do kill_tree $p; done; wait; rm -rf "$ROOT"
  [ -z "$made_user" ] || userdel "$USER_NAME" 2>/dev/null || true' EXIT
fail() { echo "FAIL: $*"; cat "$ROOT/zavren.log"; [ -z "${ZAVREN_WL_SHOT:-}" ] || as_user grim - >"$ZAVREN_WL_SHOT"; exit 1; }
wait_for() {  # SECONDS COMMAND...
  local end=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do [ $SECONDS -lt $end ] || fail "timed out waiting for: $*"; sleep 0.1; done
}
as_user() {  # SWAYSOCK only once sway made it: an empty one sends sway's own socket astray
  local sock; sock=$(ls "$RUN"/sway-ipc.*.sock 2>/dev/null | head -1 || true)
  runuser -u "$USER_NAME" -- env -i PATH="$ROOT/bin:/usr/bin:/bin" HOME="$H" \
    XDG_RUNTIME_DIR="$RUN" WAYLAND_DISPLAY=wayland-1 FAKE_ENGINE_LOG="$H/requests.log" \
    ${sock:+SWAYSOCK=$sock} "$@"
}
start() { as_user "${@:2}" >"$1" 2>&1 & PIDS+=($!); }  # LOG COMMAND...: in the background
focused_app() {
  as_user swaymsg -t get_tree | python3 -c 'import json,sys
f = lambda n: n.get("app_id") if n["focused"] else next(filter(None, map(f, n["nodes"])), None)
print(f(json.load(sys.stdin)))'
}
# Pixels of the bars' blue in the capsule's area of the 640x360-point screen: centred,
# its bottom 96 points above the screen's bottom edge.
bar_pixels() {
  as_user grim -g "90,168 460x96" -t ppm - | python3 -c 'import re,sys
d = sys.stdin.buffer.read(); p = d[re.match(rb"P6\s+\d+\s+\d+\s+\d+\s", d).end():]
print(sum(p[i + 2] > 200 and p[i] < 150 and p[i + 1] > 100 for i in range(0, len(p), 3)))'
}
capsule_shown() { [ "$(bar_pixels)" -gt 40 ]; }
capsule_gone() { [ "$(bar_pixels)" -eq 0 ]; }
# Until the program has seen the engine ready a press only hints. A press that records is
# answered within moments: waiting for it keeps a second take from overlapping the held one.
posted() { grep -q '"method":"POST"' "$H/requests.log"; }
sent() {
  as_user wtype -P alt_r -s 600 -p alt_r
  local end=$((SECONDS + 3))
  until posted; do [ $SECONDS -lt $end ] || return 1; sleep 0.1; done
}

chmod 755 "$ROOT" && install -d -o "$USER_NAME" -m 700 "$H" "$RUN" "$ROOT/bin"
install -o "$USER_NAME" -m 755 "$PROGRAM" "$ENGINE" "$ROOT/bin/"
printf 'output * mode 1280x720 scale 2\nbindsym --no-repeat Alt_R exec %s ptt press\nbindsym --release Alt_R exec %s ptt release\n' \
  "$ROOT/bin/zavren" "$ROOT/bin/zavren" >"$ROOT/sway.conf"
start "$ROOT/sway.log" env WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
  sway -c "$ROOT/sway.conf"
wait_for 20 as_user swaymsg -t get_version
start "$ROOT/pulse.log" pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm=yes \
  -L module-native-protocol-unix -L "module-sine-source source_name=tone" -L module-always-sink
wait_for 20 test -S "$RUN/pulse/native"

d=$H/.local/share/zavren/engine/engine-1.0.0
as_user sh -c "mkdir -p $d/bin $d/models $H/.config/zavren
  printf '[General]\nzavren.privacy.hint.v1=bool:true\n' > $H/.config/zavren/settings.ini
  cp $ROOT/bin/fake-engine $d/bin/llama-server; echo x > $d/models/mmproj.gguf
  echo '{\"answer\": \"胶囊测试\"}' > $d/models/qwen3-asr.gguf"
start "$ROOT/zavren.log" zavren
wait_for 30 test -S "$RUN/zavren-ptt.sock"
as_user swaymsg exec "foot sh -c 'stty -icanon; cat > $OUT'" >/dev/null
wait_for 20 eval '[ "$(focused_app)" = foot ]'
wait_for 30 curl -sf http://127.0.0.1:8765/health

wait_for 40 sent
wait_for 10 grep -q 胶囊测试 "$OUT"
: >"$OUT"
as_user wtype -P alt_r -s 4000 -p alt_r & HOLD=$!
wait_for 3 capsule_shown
[ -z "${ZAVREN_WL_SHOT:-}" ] || as_user grim - >"$ZAVREN_WL_SHOT"  # a picture to look at
[ "$(focused_app)" = foot ] || fail "the capsule took the focus: $(focused_app)"
wait $HOLD
wait_for 10 grep -q 胶囊测试 "$OUT"
wait_for 10 capsule_gone
echo "1 passed, 0 failed"
