#!/usr/bin/env bash
# Time from starting veltranic-demo to its first painted main window (offscreen), median of N
# runs, and the peak resident memory of those runs.
#   bench/startup.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=${1:-build/ci}
runs=${2:-9}
export QT_QPA_PLATFORM=offscreen
times=()
peaks=()
for _ in $(seq "$runs"); do
  start=$(date +%s%N)
  out=$("$build/demo/veltranic-demo" --first-paint 2>/dev/null)
  painted=$(sed -n 's/^first_paint_ns //p' <<<"$out")
  peaks+=("$(sed -n 's/^peak_rss *//p' <<<"$out")")
  times+=($(( (painted - start) / 1000000 )))
done
sorted=($(printf '%s\n' "${times[@]}" | sort -n))
echo "first paint (ms), $runs runs: ${times[*]}"
echo "median: ${sorted[$(( runs / 2 ))]} ms"
echo "peak RSS: $(printf '%s\n' "${peaks[@]}" | sort -n | tail -1)"
