#!/usr/bin/env bash
# Runs every fuzz harness of a fuzz build, one after the other.
#   run-fuzz.sh BUILD time SECONDS   each for SECONDS; new inputs kept in BUILD/corpus
#   run-fuzz.sh BUILD runs N         each for N inputs from the seeds (the smoke run of make test)
# Optional harness names after these restrict the run. A finding stops the run
# with a non-zero exit; the input that caused it is in BUILD/findings.
set -euo pipefail
build=$1 mode=$2 amount=$3
shift 3
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$build" && pwd)
names=("$@")
[ ${#names[@]} -gt 0 ] || mapfile -t names <"$build/fuzz_targets.txt"
case "$mode" in
  time) limit=(-max_total_time="$amount") ;;
  runs) limit=(-runs="$amount") ;;
  *) echo "usage: $0 BUILD time|runs AMOUNT [HARNESS...]" >&2; exit 2 ;;
esac

mkdir -p "$build/findings"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for name in "${names[@]}"; do
  seeds="$root/fuzz/corpus/$name"
  # A smoke run keeps nothing; a timed run grows the build's own corpus, never the seeds.
  if [ "$mode" = time ]; then work="$build/corpus/$name"; else work="$scratch/$name"; fi
  mkdir -p "$work"
  dict=()
  case "$name" in
    engine_answer | manifest | app_latest | focused_app) dict=(-dict="$root/fuzz/json.dict") ;;
  esac
  log="$build/findings/$name.log"
  if ! "$build/$name" "${limit[@]}" "${dict[@]}" -timeout=10 -rss_limit_mb=1024 \
      -print_final_stats=1 -artifact_prefix="$build/findings/$name-" "$work" "$seeds" >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "fuzz: $name found a fault (log: $log)" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "fuzz: $name ${runs:-?} inputs, no finding"
done
