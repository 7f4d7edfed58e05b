#!/usr/bin/env bash
# The longest main-thread task of the desktop program (target 20 ms) in three phases,
# each with the sound server running and stopped (SIGSTOP: it takes connections and
# answers nothing, the worst case for a client):
#   start-up (with the engine installed, up to the engine answering and 2 s more),
#   the first-run window's permission polling (no engine installed, 5 s),
#   a right-Alt press held 1 s and released (engine installed).
# The program runs with ZAVREN_TRACE=1 and marks every main-thread event of 1 ms or more.
#   bench/app/main_thread_bench.sh [BUILD]
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-build}" && pwd)
. "$src/bench/app/desktop_lib.sh"
work=$(mktemp -d /tmp/zavren-mtb.XXXXXX)
desk="$work/desktop"
zpid=""
cleanup() {
    [[ -n ${pulse:-} ]] && kill -CONT "$pulse" 2>/dev/null || true
    stop_program
    stop_desktop
    rm -rf "$work"
}
stop_program() {
    [[ -n $zpid ]] || return 0
    kill -TERM "$zpid" 2>/dev/null || true
    wait "$zpid" 2>/dev/null || true
    zpid=""
}
trap cleanup EXIT

start_desktop
pulse=$(<"$desk/pulseaudio.pid")

# start HOME WITH_ENGINE: the program in a fresh home, its log (with the trace) in HOME/log.
start() {
    local home=$1
    rm -rf "$home"
    mkdir -p "$home/config/zavren"
    mkdir -m 700 -p "$home/run"
    if [[ $2 == yes ]]; then
        local engine="$home/data/zavren/engine/engine-bench"
        mkdir -p "$engine/bin" "$engine/models"
        cp "$build/tools/fake-engine/fake-engine" "$engine/bin/llama-server"
        echo '{"answer": "你好"}' >"$engine/models/qwen3-asr.gguf"
        echo x >"$engine/models/mmproj.gguf"
    fi
    printf '[General]\nzavren.privacy.hint.v1=bool:true\n' >"$home/config/zavren/settings.ini"
    HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" \
        XDG_STATE_HOME="$home/state" XDG_CACHE_HOME="$home/cache" XDG_RUNTIME_DIR="$home/run" \
        FAKE_ENGINE_LOG="$home/engine.log" ZAVREN_UPDATE_BASE="http://127.0.0.1:9/" \
        ZAVREN_TRACE=1 "$build/src/qt/zavren" >"$home/log" 2>&1 &
    zpid=$!
}
lines() { wc -l <"$1"; }
# The longest main-task after line FROM of LOG, in ms, with the event type.
longest() {
    tail -n +"$(($2 + 1))" "$1" | awk '
        $1 == "zavren-trace" && $3 == "main-task" { us = $4; next }
        $1 == "zavren-trace" && $3 == "main-task-event" && us > max { max = us; type = $4 }
        END { printf "%.1f ms (event %s)", max / 1000, type ? type : "-" }'
}
row() { printf '  %-52s %s\n' "$1" "$2"; }

echo "ZAVREN desktop program: longest main-thread task (target <= 20 ms)"
for server in running stopped; do
    [[ $server == stopped ]] && kill -STOP "$pulse"

    home="$work/first-run-$server"
    start "$home" no
    wait_for 20 xdotool search --onlyvisible --pid "$zpid" --name "欢迎使用"
    sleep 1  # the task that shows the window may end after it is on screen
    from=$(lines "$home/log")
    sleep 5
    row "first-run window polling, sound server $server" "$(longest "$home/log" "$from")"
    stop_program

    home="$work/engine-$server"
    start "$home" yes
    wait_for 60 grep -q '"status":200' "$home/engine.log"
    sleep 2
    row "start-up, sound server $server" "$(longest "$home/log" 0)"
    from=$(lines "$home/log")
    echo "tone 440 -12" >"$ZAVREN_VMIC_CONTROL"
    xdotool keydown Alt_R
    sleep 1
    xdotool keyup Alt_R
    echo silence >"$ZAVREN_VMIC_CONTROL"
    sleep 3
    row "right-Alt press and release, sound server $server" "$(longest "$home/log" "$from")"
    stop_program

    [[ $server == stopped ]] && kill -CONT "$pulse"
done
