#!/bin/bash
# Starts a private test desktop, measures the speech lost at the start of a
# recording with a warm and a cold server connection, and stops the desktop.
#   bench/capture/run.sh [BUILD_DIR] [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
runs=${2:-15}
desk=$(mktemp -d /tmp/zavren-bench-desk-XXXXXX)
trap '"$root/tools/desktop/desktop.sh" stop "$desk"; rm -rf "$desk"' EXIT
"$root/tools/desktop/desktop.sh" start "$desk" --no-wm --no-tray \
    --feeder "$build/tools/desktop/zavren-vmic-feeder"
export ZAVREN_DESKTOP_ENV=$desk/desktop.env
"$build/bench/capture/bench_capture_latency" --runs "$runs"
echo
"$build/bench/capture/bench_capture_latency" --runs "$runs" --cold | tail -4
