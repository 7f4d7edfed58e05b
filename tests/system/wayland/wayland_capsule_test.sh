#!/usr/bin/env bash
# The capsule on headless sway (output scale 2): on screen while a dictation runs, gone
# after it, and meanwhile the focused window stays the one the text is pasted into.
# As a user made here (sway refuses root), in a network of its own (fixed engine port).
# ZAVREN_WL_SHOT=FILE.png keeps a screenshot of the capsule.
set -euo pipefail
PROGRAM=$1 ENGINE=$2 USER_NAME=zavren-wl-capsule
command -v sway wtype foot grim pulseaudio python3 curl >/dev/null && [ "$(id -u)" = 0 ] ||
  { echo "SKIP: needs root, sway, wtype, foot, grim, python3, curl and pulseaudio"; exit 77; }
[ -n "${ZAVREN_WL_NETNS:-}" ] || ZAVREN_WL_NETNS=1 exec unshare -n "$0" "$@"
ip link set lo up
. "$(dirname "$0")/../../../tools/desktop/sway_session.sh"
session_begin zavren-wlc
OUT=$H/pasted.txt
on_fail() {
  cat "$ROOT/zavren.log"
  [ -z "${ZAVREN_WL_SHOT:-}" ] || as_user grim - >"$ZAVREN_WL_SHOT"
}
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

install -o "$USER_NAME" -m 755 "$PROGRAM" "$ENGINE" "$ROOT/bin/"
start_sway "output * mode 1280x720 scale 2" "$(ptt_bindings)"
start_pulse "module-sine-source source_name=tone"
install_engine llama 胶囊测试
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
