#!/usr/bin/env bash
# Round trip of DescribeRegions through the whole engine against kestrune-sim
# on loopback, beside the bare exchange and beside the vendor's Node SDK
# (benchmark peer only) against the same simulator.
# Usage: bench/engine_report.sh [BUILD_DIR]   (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
cmake --build "$build" --target engine_roundtrip kestrune-sim >/dev/null
out=$(mktemp)
"$build/sim/kestrune-sim" --port 0 >"$out" 2>/dev/null &
sim=$!
trap 'kill $sim 2>/dev/null || true; rm -f "$out"' EXIT
for _ in $(seq 100); do [ -s "$out" ] && break; sleep 0.1; done
address=$(head -n 1 "$out" | sed 's/^listening on //')
ours=$("$build/bench/engine_roundtrip" "$address" 2000)
if [ ! -d bench/node/node_modules/@alicloud/pop-core ]; then
  (cd bench/node && npm install --no-audit --no-fund >/dev/null)
fi
peer=$(node bench/node/roundtrip_peer.js "$address" 500)
printf '%s\n%s\n' "$ours" "$peer" | awk '{ v[$1] = $2 } END {
  printf "DescribeRegions round trip, engine: median %.1f us, p99 %.1f us\n",
    v["engine_median_us"], v["engine_p99_us"];
  printf "bare exchange of a pre-signed request: median %.1f us, p99 %.1f us\n",
    v["bare_median_us"], v["bare_p99_us"];
  printf "engine overhead (median difference): %.1f us (target under 50 us)\n",
    v["engine_median_us"] - v["bare_median_us"];
  printf "Node SDK @alicloud/pop-core: median %.1f us, p99 %.1f us\n",
    v["node_median_us"], v["node_p99_us"];
  printf "ratio: the Node SDK takes %.1f times as long per request (target at least 4)\n",
    v["node_median_us"] / v["engine_median_us"];
}'
