#!/usr/bin/env bash
# Whole-process cost of one request from the command line: the time from
# starting `kestrune call ecs DescribeRegions --endpoint <simulator>` to its
# exit (start, sign, send, format, exit), median of many runs, beside a fresh
# `node` process making the same request with the vendor's Node SDK
# (@alicloud/pop-core, benchmark peer only), and the peak memory of each.
# Both talk to a local kestrune-sim on 127.0.0.1 with its replay check off,
# so every run is one request.
#
# Usage: bench/cli_report.sh [BUILD_DIR] [RUNS]   (default build/release, 300)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-300}
node_runs=$(( runs / 10 > 20 ? runs / 10 : 20 ))

source bench/lib.sh
bench_build kestrune kestrune-sim
kestrune="$build/cli/kestrune"
if [ ! -d bench/node/node_modules/@alicloud/pop-core ]; then
  (cd bench/node && npm install --no-audit --no-fund >/dev/null)
fi

start_sim sim --quiet
address=$sim_address

node_code="
const RPCClient = require('@alicloud/pop-core').RPCClient;
const client = new RPCClient({ accessKeyId: process.env.ALIBABA_CLOUD_ACCESS_KEY_ID,
  accessKeySecret: process.env.ALIBABA_CLOUD_ACCESS_KEY_SECRET,
  endpoint: 'http://$address', apiVersion: '2014-05-26' });
client.request('DescribeRegions', {}, { method: 'GET' })
  .then((reply) => { if (!reply.RequestId) process.exit(1); })
  .catch((error) => { console.error(error.message); process.exit(1); });"

export NODE_PATH=$PWD/bench/node/node_modules

# Check both once (a failure must not be timed as a fast run).
"$kestrune" call ecs DescribeRegions --endpoint "$address" | grep '^RequestId' >/dev/null ||
  { echo "kestrune did not get a good reply" >&2; exit 1; }
node -e "$node_code" || { echo "the Node SDK did not get a good reply" >&2; exit 1; }

peak_kib() {
  /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -n 1
}

read -r base base_min base_cpu < <(measure "$runs" /bin/true)
read -r ours ours_min ours_cpu < <(measure "$runs" "$PWD/$kestrune" call ecs DescribeRegions \
                                   --endpoint "$address")
read -r peer peer_min peer_cpu < <(measure "$node_runs" "$(command -v node)" -e "$node_code")
ours_kib=$(peak_kib "$kestrune" call ecs DescribeRegions --endpoint "$address")
peer_kib=$(peak_kib node -e "$node_code")

awk -v ours="$ours" -v ours_min="$ours_min" -v ours_cpu="$ours_cpu" \
    -v peer="$peer" -v peer_min="$peer_min" -v peer_cpu="$peer_cpu" \
    -v base="$base" -v base_min="$base_min" -v runs="$runs" -v node_runs="$node_runs" \
    -v ours_kib="$ours_kib" -v peer_kib="$peer_kib" -v load="$(cut -d' ' -f1 /proc/loadavg)" 'BEGIN {
  printf "machine load average %s; /bin/true as a whole process: median %.2f ms (best %.2f ms)\n",
    load, base, base_min;
  printf "kestrune call ecs DescribeRegions, whole process (median of %d): %.2f ms (best %.2f ms), CPU %.2f ms\n",
    runs, ours, ours_min, ours_cpu;
  printf "node + @alicloud/pop-core, same request (median of %d): %.1f ms (best %.1f ms), CPU %.1f ms\n",
    node_runs, peer, peer_min, peer_cpu;
  printf "ratio: kestrune is %.0f times faster by median time, %.0f by CPU time (target: under 4 ms and at least 20 times)\n",
    peer / ours, peer_cpu / ours_cpu;
  printf "peak memory: kestrune %.2f MiB, node %.1f MiB (target: under 5 MiB)\n",
    ours_kib / 1024, peer_kib / 1024;
}'
