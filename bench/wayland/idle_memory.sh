#!/usr/bin/env bash
# Resident memory of the program on headless sway (Wayland adapters, the capsule's own
# connection): idle after start-up settles, while the capsule is on screen during a
# dictation, and idle again after it. Target: idle under 40 MB, as on X11.
#   bench/wayland/idle_memory.sh [BUILD_DIR] [OUTPUT_SCALE]
# Root only: sway, the program and the engine run as a user made here, in a network
# namespace of their own (the engine port is fixed).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
scale=${2:-1}
[ "$(id -u)" = 0 ] || { echo "run as root" >&2; exit 2; }
[ -n "${ZAVREN_WL_NETNS:-}" ] || ZAVREN_WL_NETNS=1 exec unshare -n "$0" "$build" "$scale"
ip link set lo up
USER_NAME=zavren-wl-bench
. "$root/tools/desktop/sway_session.sh"
session_begin zavren-wlmem
rss() { awk '/^Rss:/ {printf "%.1f", $2 / 1024}' "/proc/$zpid/smaps_rollup"; }
# What the capsule's shared buffers hold in memory right now.
buffers() {
  awk '/^[0-9a-f]+-/ {on = /zavren-capsule/} on && /^Rss:/ {kb += $2} END {printf "%d", kb}' \
    "/proc/$zpid/smaps"
}

install -o "$USER_NAME" -m 755 "$build/src/qt/zavren" "$build/tools/fake-engine/fake-engine" "$ROOT/bin/"
start_sway "output * scale $scale" "$(ptt_bindings)"
start_pulse "module-sine-source source_name=tone"
install_engine llama 你好
start "$ROOT/zavren.log" zavren
wait_for 30 test -S "$RUN/zavren-ptt.sock"
zpid=$(pgrep -o -u "$USER_NAME" -x zavren)
wait_for 30 curl -sf http://127.0.0.1:8765/health
# The update check fires 8 s after start.
sleep "${ZAVREN_BENCH_SETTLE:-10}"
idle=$(rss) idle_buffers=$(buffers)
as_user wtype -P alt_r -s 3000 -p alt_r &
hold=$!
sleep 2
shown=$(rss) shown_buffers=$(buffers)
wait $hold
sleep 3
after=$(rss) after_buffers=$(buffers)
printf 'output scale %s\n' "$scale"
printf 'idle RSS before any capsule  %6s MB  (capsule buffers %s kB; target < 40 MB)\n' "$idle" "$idle_buffers"
printf 'RSS while the capsule shows  %6s MB  (capsule buffers %s kB)\n' "$shown" "$shown_buffers"
printf 'idle RSS after a dictation   %6s MB  (capsule buffers %s kB; target < 40 MB)\n' "$after" "$after_buffers"
