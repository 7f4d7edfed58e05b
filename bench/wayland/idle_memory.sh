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
user=zavren-wl-bench made_user=
id "$user" >/dev/null 2>&1 || { useradd -r -M -d /nonexistent -s /usr/sbin/nologin "$user" && made_user=1; }
work=$(mktemp -d /tmp/zavren-wlmem-XXXXXX) pids=() && H=$work/home RUN=$work/run
kill_tree() { for c in $(pgrep -P "$1"); do kill_tree "$c"; done; kill "$1" 2>/dev/null || true; }
trap 'for p in "${pids[@]}"; do kill_tree $p; done; wait; rm -rf "$work"
  [ -z "$made_user" ] || userdel "$user" 2>/dev/null || true' EXIT
wait_for() {
  local end=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $end ] || { echo "timed out waiting for: $*" >&2; exit 1; }
    sleep 0.1
  done
}
as_user() {
  runuser -u "$user" -- env -i PATH="$work/bin:/usr/bin:/bin" HOME="$H" XDG_RUNTIME_DIR="$RUN" \
    WAYLAND_DISPLAY=wayland-1 ZAVREN_UPDATE_BASE=http://127.0.0.1:9/ "$@"
}
start() { as_user "${@:2}" >"$1" 2>&1 & pids+=($!); }
rss() { awk '/^Rss:/ {printf "%.1f", $2 / 1024}' "/proc/$zpid/smaps_rollup"; }
# What the capsule's shared buffers hold in memory right now.
buffers() {
  awk '/^[0-9a-f]+-/ {on = /zavren-capsule/} on && /^Rss:/ {kb += $2} END {printf "%d", kb}' \
    "/proc/$zpid/smaps"
}

chmod 755 "$work" && install -d -o "$user" -m 700 "$H" "$RUN" "$work/bin"
install -o "$user" -m 755 "$build/src/qt/zavren" "$build/tools/fake-engine/fake-engine" "$work/bin/"
printf 'output * scale %s\nbindsym Alt_R exec %s ptt press\nbindsym --release Alt_R exec %s ptt release\n' \
  "$scale" "$work/bin/zavren" "$work/bin/zavren" >"$work/sway.conf"
start "$work/sway.log" env WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
  sway -c "$work/sway.conf"
wait_for 20 test -S "$RUN/wayland-1"
start "$work/pulse.log" pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm=yes \
  -L module-native-protocol-unix -L "module-sine-source source_name=tone" -L module-always-sink
wait_for 20 test -S "$RUN/pulse/native"
d=$H/.local/share/zavren/engine/engine-1.0.0
as_user sh -c "mkdir -p $d/bin $d/models $H/.config/zavren
  printf '[General]\nzavren.privacy.hint.v1=bool:true\n' > $H/.config/zavren/settings.ini
  cp $work/bin/fake-engine $d/bin/llama-server; echo x > $d/models/mmproj.gguf
  echo '{\"answer\": \"你好\"}' > $d/models/qwen3-asr.gguf"
start "$work/zavren.log" zavren
wait_for 30 test -S "$RUN/zavren-ptt.sock"
zpid=$(pgrep -o -u "$user" -x zavren)
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
