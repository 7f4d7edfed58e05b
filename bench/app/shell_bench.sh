#!/usr/bin/env bash
# Whole-program measurements on a private virtual desktop with the fake engine:
#   idle footprint after 30 s (resident memory, CPU time, wake-ups while idle),
#   key release -> final request at the engine, and
#   engine request -> text in the focused editor (answer, paste keystroke, paste),
# over RUNS dictations of SECONDS of tone each.
#   bench/app/shell_bench.sh [BUILD] [RUNS] [SECONDS]
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-build}" && pwd)
runs=${2:-5}
secs=${3:-5}
work=$(mktemp -d /tmp/zavren-bench.XXXXXX)
desk="$work/desktop"
home="$work/home"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    "$src/tests/system/harness/desktop.sh" stop "$desk" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
wait_for() {
    local limit=$1; shift
    local deadline=$((SECONDS + limit))
    until "$@" >/dev/null 2>&1; do ((SECONDS < deadline)) || return 1; sleep 0.05; done
}

"$src/tests/system/harness/desktop.sh" start "$desk" \
    --feeder "$build/tests/system/harness/zavren-vmic-feeder" \
    --probe "$build/tests/system/harness/zavren-desktop-probe" >"$work/desktop.log" 2>&1
set -a; . "$desk/desktop.env"; set +a

engine="$home/data/zavren/engine/engine-bench"
mkdir -p "$engine/bin" "$engine/models" "$home/config/zavren"
mkdir -m 700 -p "$home/run"
cp "$build/tools/fake-engine/fake-engine" "$engine/bin/llama-server"
echo '{"answer": "你好"}' >"$engine/models/qwen3-asr.gguf"
echo x >"$engine/models/mmproj.gguf"
printf '[General]\nzavren.privacy.hint.v1=bool:true\n' >"$home/config/zavren/settings.ini"
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" \
    XDG_STATE_HOME="$home/state" XDG_CACHE_HOME="$home/cache" XDG_RUNTIME_DIR="$home/run" \
    FAKE_ENGINE_LOG="$work/engine.log" ZAVREN_UPDATE_BASE="http://127.0.0.1:9/"
"$build/src/qt/zavren" >"$work/zavren.log" 2>&1 &
zpid=$!
pids+=($zpid)
wait_for 60 grep -q '"status":200' "$work/engine.log"

# Idle: let start-up settle (the update check fires at 8 s), then watch 30 s.
sleep "${ZAVREN_BENCH_SETTLE:-10}"
ticks() { awk '{print $14 + $15}' "/proc/$zpid/stat"; }
switches() { awk '/ctxt_switches/ {s += $2} END {print s}' /proc/$zpid/task/*/status; }
t0=$(ticks); c0=$(switches)
sleep "${ZAVREN_BENCH_IDLE:-30}"
t1=$(ticks); c1=$(switches)
rss=$(awk '/VmRSS/ {print $2}' "/proc/$zpid/status")
hz=$(getconf CLK_TCK)
echo "idle 30 s: RSS $((rss / 1024)) MB, CPU $(echo "scale=3; ($t1 - $t0) / $hz" | bc) s," \
     "context switches $((c1 - c0)) (all threads)"

"$build/tools/demo/zavren-demo-editor" --stamp >"$work/editor.out" 2>/dev/null &
pids+=($!)
wait_for 10 xdotool search --onlyvisible --name "ZAVREN demo editor"
xdotool search --onlyvisible --name "ZAVREN demo editor" windowactivate --sync windowfocus --sync

more_lines_than() { (($(wc -l <"$work/editor.out") > $1)); }
release_ms=()
paste_ms=()
for ((i = 1; i <= runs; i++)); do
    lines=$(wc -l <"$work/editor.out")
    finals=$(grep -c '/v1/chat/completions' "$work/engine.log" || true)
    echo "tone 440 -12" >"$ZAVREN_VMIC_CONTROL"
    xdotool keydown 108
    sleep "$secs"
    released=$(date +%s.%N)
    xdotool keyup 108
    echo silence >"$ZAVREN_VMIC_CONTROL"
    wait_for 20 more_lines_than "$lines"
    # The last chat request is the final one (previews come before the release).
    req=$(grep '/v1/chat/completions' "$work/engine.log" | tail -n 1 |
          sed 's/.*"time":\([0-9.]*\).*/\1/')
    pasted=$(tail -n 1 "$work/editor.out" | cut -d ' ' -f 1)
    release_ms+=("$(echo "($req - $released) * 1000" | bc -l)")
    paste_ms+=("$(echo "($pasted - $req) * 1000" | bc -l)")
    xdotool key ctrl+a BackSpace
    wait_for 5 more_lines_than "$((lines + 1))"
done
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR] = $1} END {printf "%.1f", a[int((NR + 1) / 2)]}'; }
echo "key release -> final request at the engine: median $(median "${release_ms[@]}") ms" \
     "(includes starting xdotool) over $runs runs of $secs s"
echo "final request -> text in the editor: median $(median "${paste_ms[@]}") ms"
