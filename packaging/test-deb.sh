#!/usr/bin/env bash
# Installs the package into a fresh Debian 12 root made with debootstrap and runs it
# there: proves that its declared dependencies are all it needs. Needs root and the
# Debian package mirror; not part of `make test`.
#
#   packaging/test-deb.sh [PACKAGE]    (default: the newest build-deb/zavren_*_amd64.deb)
#
# DEBIAN_MIRROR overrides the mirror. The root lives under /var/tmp and is removed
# afterwards, whatever happens.
set -euo pipefail

deb=${1:-$(ls -t build-deb/zavren_*_amd64.deb 2>/dev/null | head -n1 || true)}
[ -n "$deb" ] && [ -f "$deb" ] || { echo "no package: run 'make deb' first" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "needs root (debootstrap and chroot)" >&2; exit 2; }
if ! command -v debootstrap >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap
fi
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}

root=$(mktemp -d /var/tmp/zavren-deb-root-XXXXXX)
log=$(mktemp /var/tmp/zavren-deb-log-XXXXXX)
cleanup() {
  umount "$root/proc" 2>/dev/null || true
  rm -rf --one-file-system "$root" "$log"
}
trap cleanup EXIT

step() { printf '[%4ds] %s\n' "$SECONDS" "$*"; }
# Runs a command, showing its output only when it fails.
quiet() { "$@" >"$log" 2>&1 || { tail -n 30 "$log" >&2; exit 1; }; }

step "debootstrap bookworm (minbase) into $root"
quiet debootstrap --variant=minbase bookworm "$root" "$mirror"
mount -t proc proc "$root/proc"
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$deb" "$root/tmp/"

step "apt-get install $(basename "$deb") (dependencies only, no recommends)"
quiet chroot "$root" apt-get update -qq
quiet chroot "$root" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$deb")"

step "every library of /usr/bin/zavren resolves"
if chroot "$root" ldd /usr/bin/zavren | grep 'not found'; then exit 1; fi

if chroot "$root" zavren --help | grep -q -- '--version'; then
  step "zavren --version"
  chroot "$root" zavren --version
else
  # Without --version, a command that needs the installed ICU data to give its answer.
  step "zavren itn 百分之五十 (this build has no --version)"
  out=$(chroot "$root" zavren itn 百分之五十)
  echo "$out"
  [ "$out" = "50%" ] || { echo "unexpected output: $out" >&2; exit 1; }
fi
step "ok: $(basename "$deb") ($(stat -c %s "$deb") bytes) installs and runs on a clean Debian 12"
