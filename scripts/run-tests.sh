#!/usr/bin/env bash
# Runs every test of a build folder headless. System tests start their own
# virtual display and PulseAudio through CTest fixtures.
set -euo pipefail
build=${1:-build}
cd "$build"
exec ctest --output-on-failure -j "$(nproc)" --timeout 600
