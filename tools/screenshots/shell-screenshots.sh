#!/usr/bin/env bash
# Renders the tray icon and the indicator to PNG files without a display.
#   tools/screenshots/shell-screenshots.sh [BUILD] [OUT]
set -euo pipefail
build=${1:-build}
out=${2:-$build/screenshots}
cmake --build "$build" --target shell-screenshots >/dev/null
QT_QPA_PLATFORM=offscreen "$build/tools/screenshots/shell-screenshots/shell-screenshots" "$out"
