#!/usr/bin/env bash
# One call over every region: `kestrune call ecs DescribeInstances --regions
# all` (DescribeRegions, then the 28 regions at the default parallelism) as a
# whole process against a local kestrune-sim that holds every reply 50 ms,
# beside (a) the same 28 calls as 28 `kestrune call` processes in turn and
# (b) one call alone; and, where bench/node has the vendor's Node SDK
# (@alicloud/pop-core, benchmark peer only), a node process doing the same
# with all 28 requests at once (bench/node/fanout_peer.js). Medians.
#
# Usage: bench/fanout_report.sh [BUILD_DIR] [RUNS]   (default build/release, 20)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-20}
latency=50

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKESTRUNE_WERROR=ON >/dev/null
fi
cmake --build "$build" --target kestrune kestrune-sim -j 2 >/dev/null
kestrune="$PWD/$build/cli/kestrune"
sim="$build/sim/kestrune-sim"

id=bench-id
secret=bench-secret-$$
fifo=$(mktemp -u)
sequential=$(mktemp)
mkfifo "$fifo"
"$sim" --port 0 --access-key "$id:$secret" --nonce-window 0 --latency "$latency" --quiet \
  >"$fifo" 2>/dev/null &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null; wait $sim_pid 2>/dev/null; rm -f "$fifo" "$sequential"' EXIT
read -r banner <"$fifo"
address=${banner#listening on }
case $address in 127.0.0.1:*) ;; *) echo "the simulator did not start: $banner" >&2; exit 1 ;; esac
export ALIBABA_CLOUD_ACCESS_KEY_ID=$id ALIBABA_CLOUD_ACCESS_KEY_SECRET=$secret
export KESTRUNE_ENDPOINT=$address

mapfile -t regions < <("$kestrune" call ecs DescribeRegions --format tsv |
                       awk -F'\t' '$1 == "RegionId" { print $2 }')
[ "${#regions[@]}" -gt 0 ] || { echo "no regions listed" >&2; exit 1; }
# Check the fan-out once (a failure must not be timed as a fast run).
shown=$("$kestrune" call ecs DescribeInstances --regions all --format tsv | grep -c '^Region	')
[ "$shown" -eq "${#regions[@]}" ] ||
  { echo "--regions all showed $shown of ${#regions[@]} regions" >&2; exit 1; }
{
  echo "#!/bin/sh"
  echo "set -e"
  for region in "${regions[@]}"; do
    echo "'$kestrune' call ecs DescribeInstances RegionId=$region"
  done
} >"$sequential"
chmod +x "$sequential"

# Times whole processes: spawn, wait, median of the runs (wall-clock ms).
measure() {
  python3 - "$@" <<'PY'
import os, statistics, sys, time
runs = int(sys.argv[1]); argv = sys.argv[2:]
devnull = os.open(os.devnull, os.O_WRONLY)
wall = []
for _ in range(runs):
    start = time.perf_counter_ns()
    pid = os.posix_spawn(argv[0], argv, os.environ,
                         file_actions=[(os.POSIX_SPAWN_DUP2, devnull, 1)])
    _, status, _ = os.wait4(pid, 0)
    wall.append((time.perf_counter_ns() - start) / 1e6)
    if status != 0:
        sys.exit("run failed: " + " ".join(argv))
print(f"{statistics.median(wall):.1f} {min(wall):.1f}")
PY
}

count=${#regions[@]}
read -r fan fan_min < <(measure "$runs" "$kestrune" call ecs DescribeInstances --regions all)
read -r wide wide_min < <(measure "$runs" "$kestrune" call ecs DescribeInstances --regions all \
                          --parallel 32)
read -r one one_min < <(measure "$runs" "$kestrune" call ecs DescribeInstances \
                        RegionId="${regions[0]}")
read -r seq seq_min < <(measure "$(( runs > 5 ? 5 : runs ))" "$sequential")
printf 'simulator latency %d ms per reply; machine load average %s\n' "$latency" \
  "$(cut -d' ' -f1 /proc/loadavg)"
printf 'kestrune call ecs DescribeInstances --regions all (%d regions, default parallelism; median of %d): %.1f ms (best %.1f ms)\n' \
  "$count" "$runs" "$fan" "$fan_min"
printf 'the same with --parallel 32 (every region at once; median of %d): %.1f ms (best %.1f ms)\n' \
  "$runs" "$wide" "$wide_min"
printf 'one kestrune call ecs DescribeInstances (median of %d): %.1f ms (best %.1f ms)\n' \
  "$runs" "$one" "$one_min"
printf 'the same %d calls as %d kestrune processes in turn: %.1f ms (best %.1f ms)\n' \
  "$count" "$count" "$seq" "$seq_min"
# At the default of 32 at a time, 28 regions take one round after the
# DescribeRegions that lists them: two replies' latency against one call's
# one (at 16 it would be two rounds, three replies' latency).
awk -v fan="$fan" -v wide="$wide" -v one="$one" -v seq="$seq" 'BEGIN {
  printf "ratio: --regions all takes %.2f times one call (target: under 3; %.2f with --parallel 32) and is %.1f times faster than the processes in turn\n",
    fan / one, wide / one, seq / fan;
}'

if [ -d bench/node/node_modules/@alicloud/pop-core ] && command -v node >/dev/null; then
  export NODE_PATH=$PWD/bench/node/node_modules
  node bench/node/fanout_peer.js "$address" ||
    { echo "the Node SDK did not get good replies" >&2; exit 1; }
  read -r peer peer_min < <(measure "$runs" "$(command -v node)" bench/node/fanout_peer.js \
                            "$address")
  printf 'node + @alicloud/pop-core, DescribeRegions then all %d at once (median of %d): %.1f ms (best %.1f ms)\n' \
    "$count" "$runs" "$peer" "$peer_min"
  awk -v fan="$fan" -v wide="$wide" -v peer="$peer" 'BEGIN {
    printf "ratio: kestrune --regions all is %.2f times faster than the Node SDK (target: at least 3; %.2f with --parallel 32)\n",
      peer / fan, peer / wide;
  }'
else
  echo "node + @alicloud/pop-core: not installed in bench/node (npm install there), not measured"
fi
