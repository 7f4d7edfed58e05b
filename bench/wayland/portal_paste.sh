#!/bin/bash
# The paste through the desktop portal on headless KWin, from the program's trace:
# the engine's answer to the chord typed while the session is open (target < 30 ms),
# and the time to open a session, which a paste would add if it opened one for
# itself (target: session + chord < 300 ms). Runs the KWin system test RUNS times,
# two dictations each. With mutter, the chord waits for wl-copy to win the
# selection, and opening the first session includes the test answering the prompt.
#   bench/wayland/portal_paste.sh [BUILD_DIR] [RUNS] [kwin|mutter]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
runs=${2:-5}
desktop=${3:-kwin}
trace=$(mktemp /tmp/zavren-bench-portal-XXXXXX)
trap 'rm -f "$trace"' EXIT
. "$root/bench/wayland/latency_report.sh"
for _ in $(seq "$runs"); do
  ZAVREN_WL_TRACE_OUT=$trace "$root/tests/system/wayland/${desktop}_portal_test.sh" \
    "$build/src/qt/zavren" "$build/tools/fake-engine/fake-engine" \
    "$build/tests/system/wayland/zavren-text-box" \
    "$build/tools/desktop/zavren-vmic-feeder" >/dev/null
done
awk "$REPORT_AWK"'
  $1 != "zavren-trace" { next }
  $3 == "portal-open-begin" { opening = $2 }
  $3 == "portal-open-end" && opening { open[n1++] = ($2 - opening) * 1000; opening = 0 }
  $3 == "http-done" { answer = $2 }
  $3 == "paste-sent" && answer { paste[n2++] = ($2 - answer) * 1000; answer = 0 }
  END {
    report("answer -> chord, session open", paste, n2, 30)
    report("opening a session", open, n1, 270)
  }' "$trace"
