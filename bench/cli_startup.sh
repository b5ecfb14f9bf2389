#!/usr/bin/env bash
# Time from starting veltranic-cli-demo (which attaches two virtual instruments) to the first
# line of `list`, median of N runs.
#   bench/cli_startup.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=${1:-build/ci}
runs=${2:-21}
times=()
for _ in $(seq "$runs"); do
  start=$(date +%s%N)
  "$build/cli/veltranic-cli-demo" list | { IFS= read -r _; date +%s%N; cat >/dev/null; } > /tmp/veltranic-first-line.$$
  first=$(cat /tmp/veltranic-first-line.$$)
  times+=($(( (first - start) / 1000 )))
done
rm -f /tmp/veltranic-first-line.$$
sorted=($(printf '%s\n' "${times[@]}" | sort -n))
echo "first line of list (us), $runs runs: ${sorted[*]}"
echo "median: ${sorted[$(( runs / 2 ))]} us"
