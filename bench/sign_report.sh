#!/usr/bin/env bash
# Prints the time to build one signed DescribeInstances request with Kestrune
# and with the vendor's Node SDK (benchmark peer only), and their ratio.
# Usage: bench/sign_report.sh [BUILD_DIR]   (default build/release; configured
# with -DKESTRUNE_BUILD_BENCH=ON)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
cmake --build "$build" --target sign_bench >/dev/null
median_us() {  # the median CPU time of one benchmark, in microseconds
  "$build/bench/sign_bench" --benchmark_filter="$1" \
    --benchmark_format=csv --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true 2>/dev/null |
    awk -F, '/_median/ { printf "%.3f", $4 / 1000 }'
}
ours=$(median_us 'BM_SignDescribeInstances$')
ours_v3=$(median_us 'BM_SignDescribeInstancesV3$')
if [ ! -d bench/node/node_modules/@alicloud/pop-core ]; then
  (cd bench/node && npm install --no-audit --no-fund >/dev/null)
fi
peer=$(node bench/node/sign_peer.js 100000)
awk -v ours="$ours" -v ours_v3="$ours_v3" -v peer="$peer" 'BEGIN {
  printf "Signed DescribeInstances request: kestrune %.3f us (%.0f requests/s on one core)\n",
    ours, 1e6 / ours;
  printf "The same signed with ACS3-HMAC-SHA256 (v3): %.3f us (target: under 2 us)\n", ours_v3;
  printf "Node SDK @alicloud/pop-core (transport stubbed): %.3f us (%.0f requests/s)\n",
    peer, 1e6 / peer;
  printf "ratio: kestrune is %.1f times faster (target: under 1 us and at least 12 times)\n",
    peer / ours;
}'
