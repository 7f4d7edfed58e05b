#!/usr/bin/env bash
# Renders the tray icon, its menu, the indicator and the update dialog to PNG files,
# and the setup windows, on a private X display with a window manager so that
# title bars show as the user sees them.
#   tools/screenshots/shell-screenshots.sh [BUILD] [OUT]
set -euo pipefail
build=${1:-build}
out=${2:-$build/screenshots}
cmake --build "$build" --target shell-screenshots windows-screenshots >/dev/null
mkdir -p "$out"

display=
for n in $(seq 80 120); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=:$n; break; }
done
[ -n "$display" ] || { echo "no free X display" >&2; exit 1; }
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
export DISPLAY=$display QT_QPA_PLATFORM=xcb
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 0.5

"$build/tools/screenshots/shell-screenshots/shell-screenshots" "$out"
"$build/windows-screenshots/windows-screenshots" "$out"
