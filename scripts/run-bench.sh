#!/usr/bin/env bash
# Runs every benchmark of a build folder. A bench folder with shell scripts is
# driven by them (they start what the measurement needs and get the build folder
# as $1); any other folder's bench_* programs run directly.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
src=$(cd "$(dirname "$0")/.." && pwd)
for dir in "$src"/bench/*/; do
  name=$(basename "$dir")
  scripts=$(find "$dir" -maxdepth 1 -name '*.sh' | sort)
  if [ -n "$scripts" ]; then
    for s in $scripts; do
      echo "== $name: $(basename "$s")"
      bash "$s" "$build"
    done
  else
    for b in $(find "$build/bench" -maxdepth 2 -type f -perm -u+x -name 'bench_*' | sort); do
      case "$b" in */bench/"$name"/*|*/bench/bench_"$name"*) ;; *) continue ;; esac
      echo "== $name: $(basename "$b")"
      "$b"
    done
  fi
done
