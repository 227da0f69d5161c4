#!/usr/bin/env bash
# Signing one DescribeInstances request with v1 (HMAC-SHA1) and v3
# (ACS3-HMAC-SHA256), both in each of RUNS runs of sign_bench, so that a
# machine shared with other work loads both alike. Prints the machine's load,
# each run's medians (CPU time) and the best and the median over the runs.
# Usage: bench/sign_v3_report.sh [BUILD_DIR] [RUNS]   (default build/release, 5)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-5}
cmake --build "$build" --target sign_bench >/dev/null
echo "load before: $(uptime | sed 's/.*load average: //')"
lines=$(for ((run = 1; run <= runs; ++run)); do
  "$build/bench/sign_bench" --benchmark_filter='BM_SignDescribeInstances(V3)?$' \
    --benchmark_format=csv --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true 2>/dev/null |
    awk -F, -v run="$run" '/_median/ { t[$1 ~ /V3/ ? "v3" : "v1"] = $4 / 1000 }
      END { printf "run %d: v1 %.3f us, v3 %.3f us\n", run, t["v1"], t["v3"] }'
done)
echo "$lines"
echo "$lines" | awk '
  { v1[NR] = $4; v3[NR] = $7 }
  function sort(a, n,   i, j, x) {
    for (i = 2; i <= n; ++i) { x = a[i]; for (j = i - 1; j >= 1 && a[j] > x; --j) a[j + 1] = a[j]; a[j + 1] = x }
  }
  function median(a, n) { return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2 }
  END {
    sort(v1, NR); sort(v3, NR)
    printf "v1: best %.3f us, median %.3f us\n", v1[1], median(v1, NR)
    printf "v3: best %.3f us, median %.3f us (target: under 2 us)\n", v3[1], median(v3, NR)
  }'
echo "load after: $(uptime | sed 's/.*load average: //')"
