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

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKESTRUNE_WERROR=ON >/dev/null
fi
cmake --build "$build" --target kestrune kestrune-sim -j 2 >/dev/null
kestrune="$build/cli/kestrune"
sim="$build/sim/kestrune-sim"
if [ ! -d bench/node/node_modules/@alicloud/pop-core ]; then
  (cd bench/node && npm install --no-audit --no-fund >/dev/null)
fi

id=bench-id
secret=bench-secret-$$
fifo=$(mktemp -u)
mkfifo "$fifo"
"$sim" --port 0 --access-key "$id:$secret" --nonce-window 0 --quiet >"$fifo" 2>/dev/null &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null; wait $sim_pid 2>/dev/null; rm -f "$fifo"' EXIT
read -r banner <"$fifo"
address=${banner#listening on }
case $address in 127.0.0.1:*) ;; *) echo "the simulator did not start: $banner" >&2; exit 1 ;; esac

node_code="
const RPCClient = require('@alicloud/pop-core').RPCClient;
const client = new RPCClient({ accessKeyId: process.env.ALIBABA_CLOUD_ACCESS_KEY_ID,
  accessKeySecret: process.env.ALIBABA_CLOUD_ACCESS_KEY_SECRET,
  endpoint: 'http://$address', apiVersion: '2014-05-26' });
client.request('DescribeRegions', {}, { method: 'GET' })
  .then((reply) => { if (!reply.RequestId) process.exit(1); })
  .catch((error) => { console.error(error.message); process.exit(1); });"

export ALIBABA_CLOUD_ACCESS_KEY_ID=$id ALIBABA_CLOUD_ACCESS_KEY_SECRET=$secret
export NODE_PATH=$PWD/bench/node/node_modules

# Check both once (a failure must not be timed as a fast run).
"$kestrune" call ecs DescribeRegions --endpoint "$address" | grep '^RequestId' >/dev/null ||
  { echo "kestrune did not get a good reply" >&2; exit 1; }
node -e "$node_code" || { echo "the Node SDK did not get a good reply" >&2; exit 1; }

# Times whole processes: spawn, wait, median of the runs. Prints wall-clock
# ms (median, best) and the CPU ms the process itself used (median), which
# other load on the machine does not inflate.
measure() {
  python3 - "$@" <<'PY'
import os, statistics, sys, time
runs = int(sys.argv[1]); argv = sys.argv[2:]
devnull = os.open(os.devnull, os.O_WRONLY)
wall, cpu = [], []
for _ in range(runs):
    start = time.perf_counter_ns()
    pid = os.posix_spawn(argv[0], argv, os.environ,
                         file_actions=[(os.POSIX_SPAWN_DUP2, devnull, 1)])
    _, status, usage = os.wait4(pid, 0)
    wall.append((time.perf_counter_ns() - start) / 1e6)
    cpu.append((usage.ru_utime + usage.ru_stime) * 1e3)
    if status != 0:
        sys.exit("run failed: " + " ".join(argv))
print(f"{statistics.median(wall):.3f} {min(wall):.3f} {statistics.median(cpu):.3f}")
PY
}

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
