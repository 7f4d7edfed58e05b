#!/usr/bin/env bash
# Dictation on headless sway (output scale 2) per engine flavour, as a user made here (sway
# refuses root), in a network of its own (the engine port is fixed); in the first, the capsule
# shows while the key is held, never takes the focus, and goes. The program's trace goes to
# $ZAVREN_WL_TRACE_OUT; ZAVREN_WL_BENCH leaves out the cases that wait on purpose;
# ZAVREN_WL_SHOT=FILE.png keeps a screenshot of the capsule.
set -euo pipefail
PROGRAM=${1:-} ENGINE=${2:-} TEXT_BOX=${3:-} OWNER=${4:-} FEEDER=${5:-} USER_NAME=zavren-wl-test PREVIOUS=之前的剪贴板
[ -x "$TEXT_BOX" ] && [ -x "$OWNER" ] && [ -x "$FEEDER" ] &&
  command -v sway wtype foot grim wl-copy pulseaudio espeak-ng sox python3 >/dev/null &&
  [ "$(id -u)" = 0 ] || { echo "SKIP: needs root, sway, wtype, foot, grim, wl-clipboard,"\
  "pulseaudio, espeak-ng, sox, python3 and the test clients"; exit 77; }
[ -n "${ZAVREN_WL_NETNS:-}" ] || ZAVREN_WL_NETNS=1 exec unshare -n "$0" "$@"
ip link set lo up
. "$(dirname "$0")/../../../tools/desktop/sway_session.sh"
session_begin zavren-wl
on_end() { cat "$ROOT"/zavren-*.log >>"${ZAVREN_WL_TRACE_OUT:-/dev/null}" 2>/dev/null; }
shows() { as_user swaymsg -t get_tree | grep -q "\"app_id\": \"$1\""; }
previous_is_back() {  # TYPE
  if [ "$1" = text/plain ]; then [ "$(as_user wl-paste -n)" = "$PREVIOUS" ]
  else as_user wl-paste --type "$1" | cmp -s - "$ROOT/previous"; fi
}
posts() { grep -c '"method":"POST"' "$H/requests.log" || true; }
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
# One wtype holds the key; until the program has seen the engine a press only hints.
# The spoken sample plays into the microphone while the key is held.
dictate() {
  local before; before=$(posts)
  as_user sh -c "echo play $ROOT/speech.wav >$RUN/mic.ctl"
  as_user wtype -P alt_r -s 1500 -p alt_r
  for _ in $(seq 30); do [ "$(posts)" -gt "$before" ] && return 0; sleep 0.1; done
  return 1
}

install -o "$USER_NAME" -m 755 "$PROGRAM" "$ENGINE" "$TEXT_BOX" "$OWNER" "$FEEDER" "$ROOT/bin/"
head -c 300000 /dev/urandom >"$ROOT/previous" && chmod 644 "$ROOT/previous"
espeak-ng -v zh -w "$ROOT/spoken.wav" "我的电话是一三八零零一三八零零零"
sox "$ROOT/spoken.wav" -r 16000 -c 1 -b 16 "$ROOT/speech.wav" && chmod 644 "$ROOT/speech.wav"
start_sway "output * mode 1280x720 scale 2" "$(ptt_bindings)"
start_pulse "module-pipe-source source_name=mic file=$RUN/mic.fifo format=s16le rate=16000 channels=1"
as_user mkfifo -m 600 "$RUN/mic.ctl"
start "$ROOT/feeder.log" "$(basename "$FEEDER")" --fifo "$RUN/mic.fifo" --control "$RUN/mic.ctl" \
  --status "$RUN/mic.status"
wait_for 10 test -s "$RUN/mic.status"

# One target per engine flavour: foot, a terminal (Ctrl+Shift+V), over a text clipboard; a Qt
# text box (Ctrl+V) over an image, bigger than a pipe holds, that must come back byte for byte.
for run in "llama foot text/plain" "python zavren-text-box image/png"; do
  read -r flavour app type <<<"$run"
  echo "== $flavour into $app"
  install_engine $flavour 我的电话是一三八零零一三八零零零
  start "$ROOT/zavren-$flavour.log" env ZAVREN_TRACE=1 zavren
  program=${PIDS[-1]}
  wait_for 30 test -S "$RUN/zavren-ptt.sock"

  OUT=$H/pasted-$flavour.txt
  if [ $app = foot ]; then
    as_user swaymsg exec "foot sh -c 'stty -icanon; cat > $OUT'"
    printf %s "$PREVIOUS" | as_user wl-copy
  else
    as_user swaymsg exec "env QT_QPA_PLATFORM=wayland $ROOT/bin/zavren-text-box $OUT"
    as_user wl-copy --type "$type" <"$ROOT/previous"
  fi
  wait_for 20 shows $app
  wait_for 40 dictate
  wait_for 20 grep -q 我的电话是13800138000 "$OUT"
  wait_for 10 previous_is_back "$type"
  [ ! -e "$RUN/zavren.wav" ] || fail "the recording outlived the dictation"
  secs=$(grep -o '"wav_seconds":[0-9.]*' "$H/requests.log" | tail -1 | cut -d: -f2)
  [ "${secs%.*}" -ge 1 ] || fail "the engine got ${secs:-no} seconds of the sample"
  if [ $app = foot ] && [ -z "${ZAVREN_WL_BENCH:-}" ]; then
    : >"$OUT"
    as_user sh -c "echo play $ROOT/speech.wav >$RUN/mic.ctl"
    as_user wtype -P alt_r -s 3000 -p alt_r & hold=$!
    wait_for 3 capsule_shown
    [ -z "${ZAVREN_WL_SHOT:-}" ] || as_user grim - >"$ZAVREN_WL_SHOT"  # a picture to look at
    [ "$(focused_app)" = foot ] || fail "the capsule took the focus: $(focused_app)"
    wait $hold
    wait_for 20 grep -q 我的电话是13800138000 "$OUT"
    wait_for 10 capsule_gone
  fi
  # An owner that never answers must not hold the paste back (by its deadline: not for the bench).
  if [ $app != foot ] && [ -z "${ZAVREN_WL_BENCH:-}" ]; then
    start "$ROOT/owner.log" "$(basename "$OWNER")"
    wait_for 10 eval 'as_user wl-paste --list-types | grep -q charset'
    wait_for 40 dictate
    wait_for 20 eval '[ "$(grep -o 13800138000 "$OUT" | wc -l)" = 2 ]'
    wait_for 10 eval '! as_user wl-paste --list-types'  # nothing could be saved: nothing put back
  fi
  kill_tree "$program"
  wait_for 10 eval '! pgrep -u "$USER_NAME" -x zavren'  # quitting stops the engine first
  as_user swaymsg kill >/dev/null
  wait_for 10 eval "! shows $app"
  status=0; as_user zavren ptt press 2>/dev/null || status=$?
  [ "$status" = 3 ] || fail "ptt without a running program exited $status"
done
echo "1 passed, 0 failed"
