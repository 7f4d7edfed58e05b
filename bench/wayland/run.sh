#!/bin/bash
# Latency of a dictation on headless sway, from the program's trace: key release
# (the binding's `zavren ptt release` reaching the program) to the request on the
# wire, and the engine's answer to the paste chord typed. Runs the Wayland system
# test RUNS times, two dictations each.
#   bench/wayland/run.sh [BUILD_DIR] [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
runs=${2:-5}
trace=$(mktemp /tmp/zavren-bench-wl-XXXXXX)
trap 'rm -f "$trace"' EXIT
. "$root/bench/wayland/latency_report.sh"
for _ in $(seq "$runs"); do
  ZAVREN_WL_BENCH=1 ZAVREN_WL_TRACE_OUT=$trace "$root/tests/system/wayland/wayland_dictation_test.sh" \
    "$build/src/qt/zavren" "$build/tools/fake-engine/fake-engine" \
    "$build/tests/system/wayland/zavren-text-box" \
    "$build/tests/system/wayland/zavren-silent-owner" \
    "$build/tools/desktop/zavren-vmic-feeder" >/dev/null
done
awk "$REPORT_AWK"'
  $1 != "zavren-trace" { next }
  $3 == "hotkey-wake" { wake = $2 }
  $3 == "rec-stop-begin" && !stopping { release = wake; stopping = 1 }
  $3 == "http-header-out" && stopping { wire[n1++] = ($2 - release) * 1000; stopping = 0 }
  $3 == "http-done" { answer = $2 }
  $3 == "paste-sent" { paste[n2++] = ($2 - answer) * 1000 }
  END {
    report("key release -> request sent", wire, n1, 5)
    report("answer -> paste chord typed", paste, n2, 30)
  }' "$trace"
