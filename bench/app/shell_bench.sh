#!/usr/bin/env bash
# Whole-program measurements on a private virtual desktop with the fake engine, against
# their targets:
#   idle footprint after start-up settles (resident memory, CPU time, wake-ups over 30 s),
#   key release -> the final request leaving the program (its first bytes on the socket),
#   answer received -> paste keystroke sent,
# over RUNS dictations of SECONDS of tone each. The program runs with ZAVREN_TRACE=1; its
# trace lines carry CLOCK_MONOTONIC times, as do the key sender's stamps.
#   bench/app/shell_bench.sh [BUILD] [RUNS] [SECONDS]
# ZAVREN_BENCH_VERBOSE=1 also prints every run's stages; ZAVREN_BENCH_LOG=FILE keeps the
# program's log (with its trace).
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-build}" && pwd)
. "$src/bench/app/desktop_lib.sh"
runs=${2:-5}
secs=${3:-5}
work=$(mktemp -d /tmp/zavren-bench.XXXXXX)
desk="$work/desktop"
home="$work/home"
pids=()
cleanup() {
    exec {keys_in}>&- 2>/dev/null || true
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    stop_desktop
    [[ ${ZAVREN_BENCH_LOG:-} ]] && cp "$work/zavren.log" "$ZAVREN_BENCH_LOG"
    rm -rf "$work"
}
trap cleanup EXIT

start_desktop

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
ZAVREN_TRACE=1 "$build/src/qt/zavren" >"$work/zavren.log" 2>&1 &
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
rss_kb=$(awk '/^Rss:/ {print $2}' "/proc/$zpid/smaps_rollup")
anon_kb=$(awk '/^Anonymous:/ {print $2}' "/proc/$zpid/smaps_rollup")
threads=$(ls "/proc/$zpid/task" | wc -l)
hz=$(getconf CLK_TCK)
idle_cpu=$(echo "scale=2; ($t1 - $t0) / $hz" | bc)
idle_switches=$((c1 - c0))

"$build/tools/demo/zavren-demo-editor" --stamp >"$work/editor.out" 2>/dev/null &
pids+=($!)
wait_for 10 xdotool search --onlyvisible --name "ZAVREN demo editor"
xdotool search --onlyvisible --name "ZAVREN demo editor" windowactivate --sync windowfocus --sync

# One X connection for every key press, so no process start sits inside a measurement.
mkfifo "$work/keys.in"
"$build/bench/app/zavren-bench-keys" <"$work/keys.in" >"$work/keys.out" &
pids+=($!)
exec {keys_in}>"$work/keys.in"
key() {
    local before
    before=$(wc -l <"$work/keys.out")
    echo "$1 108" >&"$keys_in"
    wait_for 5 more_lines_than "$work/keys.out" "$before"
    tail -n 1 "$work/keys.out"
}

more_lines_than() { (($(wc -l <"$1") > $2)); }
# Stages of one dictation from the program's trace, relative to the release stamp (ms):
# X event read, recorder stopped, request handed to HTTP, first bytes written, last
# bytes written, answer received, paste keystroke sent.
stages() {
    awk -v r="$1" '
        $1 != "zavren-trace" || $2 < r { next }
        $3 == "hotkey-release" && !key { key = $2 }
        $3 == "rec-stop-end" && !rec { rec = $2 }
        $3 == "http-send" && !send { send = $2 }
        $3 == "http-header-out" && send && !first { first = $2 }
        $3 == "http-data-out" && first && !done { last = $2 }
        $3 == "http-done" && $4 == 200 && first && !done { done = $2 }
        $3 == "paste-sent" && done && !paste { paste = $2 }
        END {
            if (!last) last = first
            printf "%.3f %.3f %.3f %.3f %.3f %.3f %.3f\n", (key - r) * 1000, (rec - r) * 1000,
                (send - r) * 1000, (first - r) * 1000, (last - r) * 1000, (done - r) * 1000,
                (paste - done) * 1000
        }' "$work/zavren.log"
}

release_ms=(); written_ms=(); engine_ms=(); paste_ms=(); editor_ms=()
[[ ${ZAVREN_BENCH_VERBOSE:-} ]] &&
    echo "run: X event read, recorder stopped, request handed on, first bytes out, last bytes out, answer in (ms after release); answer -> paste keystroke (ms)"
for ((i = 1; i <= runs; i++)); do
    lines=$(wc -l <"$work/editor.out")
    # As on a real desktop, another program owns the clipboard: the program reads
    # it to put it back after the paste. xclip quits once it loses the selection.
    echo "copied earlier $i" | xclip -selection clipboard
    echo "tone 440 -12" >"$ZAVREN_VMIC_CONTROL"
    key down >/dev/null
    sleep "$secs"
    read -r mono wall < <(key up)
    echo silence >"$ZAVREN_VMIC_CONTROL"
    wait_for 20 more_lines_than "$work/editor.out" "$lines"
    read -r s_key s_rec s_send s_first s_last s_done s_paste < <(stages "$mono")
    [[ ${ZAVREN_BENCH_VERBOSE:-} ]] &&
        echo "run $i: $s_key $s_rec $s_send $s_first $s_last $s_done; $s_paste"
    # The last chat request is the final one (previews come before the release).
    req=$(grep '/v1/chat/completions' "$work/engine.log" | tail -n 1 |
          sed 's/.*"time":\([0-9.]*\).*/\1/')
    pasted=$(tail -n 1 "$work/editor.out" | cut -d ' ' -f 1)
    release_ms+=("$s_first")
    written_ms+=("$s_last")
    engine_ms+=("$(echo "($req - $wall) * 1000" | bc -l)")
    paste_ms+=("$s_paste")
    editor_ms+=("$(echo "($pasted - $req) * 1000" | bc -l)")
    xdotool key ctrl+a BackSpace
    wait_for 5 more_lines_than "$work/editor.out" "$((lines + 1))"
done
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR] = $1} END {printf "%.1f", a[int((NR + 1) / 2)]}'; }
verdict() { awk -v v="$1" -v t="$2" 'BEGIN {print (v < t ? "met" : "MISSED")}'; }

m_release=$(median "${release_ms[@]}")
m_paste=$(median "${paste_ms[@]}")
rss_mb=$(echo "scale=1; $rss_kb / 1024" | bc)
echo "ZAVREN desktop program, $runs dictations of $secs s (medians)"
printf '  %-44s %-22s %-10s %s\n' "measure" "result" "target" ""
printf '  %-44s %-22s %-10s %s\n' "idle resident memory after 30 s" \
    "$rss_mb MB" "< 40 MB" "$(verdict "$rss_mb" 40)"
printf '  %-44s %-22s %-10s %s\n' "idle CPU time / context switches in 30 s" \
    "$idle_cpu s / $idle_switches" "0 / ~0" \
    "$(awk -v c="$idle_cpu" -v s="$idle_switches" 'BEGIN {print (c < 0.01 && s <= 2 ? "met" : "MISSED")}')"
printf '  %-44s %-22s %-10s %s\n' "key release -> final request leaves the program" \
    "$m_release ms" "< 5 ms" "$(verdict "$m_release" 5)"
printf '  %-44s %-22s %-10s %s\n' "answer received -> paste keystroke sent" \
    "$m_paste ms" "< 5 ms" "$(verdict "$m_paste" 5)"
echo "  for reference: $((anon_kb / 1024)) MB of the resident memory anonymous, $threads threads;"
echo "    key release -> last request byte written $(median "${written_ms[@]}") ms," \
     "-> request logged by the engine $(median "${engine_ms[@]}") ms (wall clock);"
echo "    request logged by the engine -> text in the editor $(median "${editor_ms[@]}") ms"
