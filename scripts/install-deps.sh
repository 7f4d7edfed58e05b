#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need:
#   build  what compiling and running the program takes
#   demo   that, and the private desktop and microphone of the headless demo
#   all    that, and every test and benchmark tool (what `make test` needs)
# Only missing packages are installed, so a warm machine pays one dpkg query.
set -euo pipefail

BUILD="cmake ninja-build g++ pkg-config make qt6-base-dev libpulse-dev libcurl4-openssl-dev libarchive-dev
  libssl-dev nlohmann-json3-dev libicu-dev libx11-dev libxi-dev libxtst-dev clang-format
  dpkg-dev file libevdev-dev libwayland-dev libxkbcommon-dev"
RUNTIME="fonts-wqy-microhei tar gzip procps qt6-wayland wl-clipboard"
DEMO="libcpp-httplib-dev xvfb xauth x11-utils pulseaudio pulseaudio-utils xdotool espeak-ng sox
  trayer xcompmgr openbox"
TESTS="libgtest-dev libgmock-dev libbenchmark-dev xclip imagemagick python3 bc curl sway foot
  wtype iproute2 grim clang-14 libclang-rt-14-dev xterm kwin-wayland xdg-desktop-portal
  xdg-desktop-portal-kde qtwayland5 mutter xdg-desktop-portal-gnome python3-gi"

want="$BUILD $RUNTIME"
case "${1:-all}" in
  build) ;;
  demo) want="$want $DEMO" ;;
  all) want="$want $DEMO $TESTS" ;;
  *) echo "usage: $0 [build|demo|all]" >&2; exit 2 ;;
esac

missing=()
for p in $want; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  SUDO="sudo"
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
