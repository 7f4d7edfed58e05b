# Sourced by the Wayland system tests and benches: headless sway, a private PulseAudio,
# the program and its fake engine, all as a user made here (sway refuses root), in a
# network namespace the caller entered (the engine port is fixed).
# Set USER_NAME, then `session_begin PREFIX`; it sets ROOT, H (home), RUN (runtime dir).
# A caller may define on_end (at exit, before the files go) and on_fail.

kill_tree() { for c in $(pgrep -P "$1"); do kill_tree "$c"; done; kill "$1" 2>/dev/null || true; }

session_begin() {  # PREFIX
  made_user= PIDS=()
  # The watcher of a killed run of this test may still be clearing its user away.
  for _ in $(seq 50); do pgrep -f "zavren-watch [0-9]+ [^ ]+ $USER_NAME " >/dev/null || break; sleep 0.1; done
  id "$USER_NAME" >/dev/null 2>&1 ||
    { useradd -r -M -d /nonexistent -s /usr/sbin/nologin "$USER_NAME" && made_user=1; }
  ROOT=$(mktemp -d "/tmp/$1-XXXXXX") && H=$ROOT/home RUN=$ROOT/run
  trap session_end EXIT
  watch_run
  chmod 755 "$ROOT" && install -d -o "$USER_NAME" -m 700 "$H" "$RUN" "$ROOT/bin"
}

# A run killed outright (a CTest timeout kills its whole tree) cannot clean up: a watcher
# outside the tree does, once the run is gone and has left its folder behind.
watch_run() {
  setsid -f sh -c 'while kill -0 "$1" 2>/dev/null; do sleep 0.5; done
    [ -d "$2" ] || exit 0
    pkill -KILL -u "$3"; sleep 0.5; rm -rf "$2"; [ -z "$4" ] || userdel "$3"' \
    zavren-watch $$ "$ROOT" "$USER_NAME" "$made_user" </dev/null >/dev/null 2>&1
}

session_end() {
  for p in "${PIDS[@]}"; do kill_tree "$p"; done
  # What sway started has left its tree; the user is this session's alone.
  pkill -KILL -u "$USER_NAME" 2>/dev/null || true
  wait
  ! declare -F on_end >/dev/null || on_end || true
  rm -rf "$ROOT"
  [ -z "$made_user" ] || userdel "$USER_NAME" 2>/dev/null || true
}

fail() {
  echo "FAIL: $*"
  ! declare -F on_fail >/dev/null || on_fail || true
  exit 1
}

wait_for() {  # SECONDS COMMAND...
  local end=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $end ] || fail "timed out waiting for: $*"
    sleep 0.1
  done
}

as_user() {  # SWAYSOCK only once sway made it: an empty one sends sway's own socket astray
  local sock; sock=$(ls "$RUN"/sway-ipc.*.sock 2>/dev/null | head -1 || true)
  runuser -u "$USER_NAME" -- env -i PATH="$ROOT/bin:/usr/bin:/bin" HOME="$H" \
    XDG_RUNTIME_DIR="$RUN" WAYLAND_DISPLAY=wayland-1 FAKE_ENGINE_LOG="$H/requests.log" \
    ZAVREN_UPDATE_BASE=http://127.0.0.1:9/ ${sock:+SWAYSOCK=$sock} "$@"
}

start() {  # LOG COMMAND...: in the background
  as_user "${@:2}" >"$1" 2>&1 &
  PIDS+=($!)
}

start_sway() {  # CONFIG-LINE...
  printf '%s\n' "$@" >"$ROOT/sway.conf"
  start "$ROOT/sway.log" env WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    sway -c "$ROOT/sway.conf"
  wait_for 20 as_user swaymsg -t get_version
}

start_pulse() {  # MODULE...: loaded besides the protocol and a sink
  local loads=()
  for m in "$@"; do loads+=(-L "$m"); done
  start "$ROOT/pulse.log" pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm=yes \
    -L module-native-protocol-unix -L module-always-sink "${loads[@]}"
  wait_for 20 test -S "$RUN/pulse/native"
}

# Right Alt bound to the program's ptt commands, as a user would.
ptt_bindings() {
  echo "bindsym --no-repeat Alt_R exec $ROOT/bin/zavren ptt press"
  echo "bindsym --release Alt_R exec $ROOT/bin/zavren ptt release"
}

install_engine() {  # FLAVOUR ANSWER: the fake engine, installed as that flavour, answering ANSWER
  local d=$H/.local/share/zavren/engine/engine-1.0.0 exe model
  exe=$d/python/bin/python3.13 model=$d/voice_server.py
  [ "$1" = python ] || exe=$d/bin/llama-server model=$d/models/qwen3-asr.gguf
  as_user sh -c "rm -rf $d; mkdir -p $d/bin $d/models $d/python/bin $H/.config/zavren
    printf '[General]\nzavren.privacy.hint.v1=bool:true\n' > $H/.config/zavren/settings.ini
    cp $ROOT/bin/fake-engine $exe; echo x > $d/models/mmproj.gguf
    echo '{\"answer\": \"$2\"}' > $model"
}
