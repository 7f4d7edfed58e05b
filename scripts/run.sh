#!/usr/bin/env bash
# `make run`: on a desktop, start the tray program; on a machine without a
# display, run the self-contained demo (a private virtual desktop and microphone,
# the fake engine installed as the engine, a spoken sample dictated into an editor).
set -euo pipefail
build=${1:-build}
if [ -n "${WAYLAND_DISPLAY:-}" ] || { [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; }; then
  exec "$build/src/qt/zavren"
fi
echo "没有可用的显示器:运行自带演示(虚拟桌面、虚拟麦克风、测试引擎)。"
exec "$build/tools/demo/zavren-demo"
