#!/usr/bin/env bash
# Starts the program. Until the desktop program lands this runs the headless demo.
set -euo pipefail
build=${1:-build}
if [ -x "$build/tools/demo/zavren-demo" ]; then
  exec "$build/tools/demo/zavren-demo"
fi
exec "$build/src/cli/zavren" --help
