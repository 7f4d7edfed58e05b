#!/usr/bin/env bash
# Runs every benchmark of a build folder: Google Benchmark programs (bench_*)
# and benchmark scripts (bench/**/run-*.sh), which get the build folder as $1.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
src=$(cd "$(dirname "$0")/.." && pwd)
while IFS= read -r b; do
  echo "== $b"
  "$b"
done < <(find "$build/bench" -type f -name 'bench_*' -perm -u+x 2>/dev/null | sort)
while IFS= read -r s; do
  echo "== $s"
  bash "$s" "$build"
done < <(find "$src/bench" -type f -name 'run-*.sh' 2>/dev/null | sort)
