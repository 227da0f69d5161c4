#!/usr/bin/env bash
# One call over every region, as a whole process against a local kestrune-sim
# that holds every reply 50 ms: `kestrune call ecs DescribeInstances --regions
# ID,ID,...` naming the simulator's 28 regions (default parallelism), beside
# (a) the same 28 calls as 28 `kestrune call` processes in turn, (b) one call
# alone and, where bench/node has the vendor's Node SDK (@alicloud/pop-core,
# benchmark peer only), (c) a node process sending the same 28 requests at
# once (bench/node/fanout_peer.js). Then `--regions all`, which asks
# DescribeRegions first and so waits for two replies in turn, beside the Node
# SDK doing the same. Medians.
#
# Usage: bench/fanout_report.sh [BUILD_DIR] [RUNS]   (default build/release, 20)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-20}
latency=50

source bench/lib.sh
bench_build kestrune kestrune-sim
kestrune="$PWD/$build/cli/kestrune"
sequential="$bench_work/sequential.sh"
start_sim sim --quiet --latency "$latency"
address=$sim_address
export KESTRUNE_ENDPOINT=$address

mapfile -t regions < <("$kestrune" call ecs DescribeRegions --format tsv |
                       awk -F'\t' '$1 == "RegionId" { print $2 }')
[ "${#regions[@]}" -gt 0 ] || { echo "no regions listed" >&2; exit 1; }
named=$(IFS=,; echo "${regions[*]}")
# Check the fan-out once each way (a failure must not be timed as a fast run).
for list in all "$named"; do
  shown=$("$kestrune" call ecs DescribeInstances --regions "$list" --format tsv |
          grep -c '^Region	')
  [ "$shown" -eq "${#regions[@]}" ] ||
    { echo "--regions $list showed $shown of ${#regions[@]} regions" >&2; exit 1; }
done
{
  echo "#!/bin/sh"
  echo "set -e"
  for region in "${regions[@]}"; do
    echo "'$kestrune' call ecs DescribeInstances RegionId=$region"
  done
} >"$sequential"
chmod +x "$sequential"

count=${#regions[@]}
read -r fan fan_min _ < <(measure "$runs" "$kestrune" call ecs DescribeInstances --regions "$named")
read -r all all_min _ < <(measure "$runs" "$kestrune" call ecs DescribeInstances --regions all)
read -r one one_min _ < <(measure "$runs" "$kestrune" call ecs DescribeInstances \
                        RegionId="${regions[0]}")
read -r seq seq_min _ < <(measure "$(( runs > 5 ? 5 : runs ))" "$sequential")
printf 'simulator latency %d ms per reply; machine load average %s\n' "$latency" \
  "$(cut -d' ' -f1 /proc/loadavg)"
printf 'kestrune call ecs DescribeInstances --regions ID,...,ID (%d regions, default parallelism; median of %d): %.1f ms (best %.1f ms)\n' \
  "$count" "$runs" "$fan" "$fan_min"
printf 'one kestrune call ecs DescribeInstances (median of %d): %.1f ms (best %.1f ms)\n' \
  "$runs" "$one" "$one_min"
printf 'the same %d calls as %d kestrune processes in turn: %.1f ms (best %.1f ms)\n' \
  "$count" "$count" "$seq" "$seq_min"
printf 'kestrune call ecs DescribeInstances --regions all (DescribeRegions first; median of %d): %.1f ms (best %.1f ms)\n' \
  "$runs" "$all" "$all_min"
awk -v fan="$fan" -v all="$all" -v one="$one" -v seq="$seq" 'BEGIN {
  printf "ratio: the %s regions take %.2f times one call (target: under 3; --regions all %.2f) and are %.1f times faster than the processes in turn\n",
    "'"$count"'", fan / one, all / one, seq / fan;
}'

if [ -d bench/node/node_modules/@alicloud/pop-core ] && command -v node >/dev/null; then
  export NODE_PATH=$PWD/bench/node/node_modules
  node bench/node/fanout_peer.js "$address" "$named" ||
    { echo "the Node SDK did not get good replies" >&2; exit 1; }
  node bench/node/fanout_peer.js "$address" ||
    { echo "the Node SDK did not get good replies" >&2; exit 1; }
  read -r peer peer_min _ < <(measure "$runs" "$(command -v node)" bench/node/fanout_peer.js \
                            "$address" "$named")
  read -r peer_all peer_all_min _ < <(measure "$runs" "$(command -v node)" \
                                    bench/node/fanout_peer.js "$address")
  printf 'node + @alicloud/pop-core, the %d requests at once (median of %d): %.1f ms (best %.1f ms)\n' \
    "$count" "$runs" "$peer" "$peer_min"
  printf 'node + @alicloud/pop-core, DescribeRegions then all %d at once (median of %d): %.1f ms (best %.1f ms)\n' \
    "$count" "$runs" "$peer_all" "$peer_all_min"
  awk -v fan="$fan" -v all="$all" -v peer="$peer" -v peer_all="$peer_all" 'BEGIN {
    printf "ratio: kestrune is %.2f times faster than the Node SDK over the named regions (target: at least 3) and %.2f times with DescribeRegions first\n",
      peer / fan, peer_all / all;
  }'
else
  echo "node + @alicloud/pop-core: not installed in bench/node (npm install there), not measured"
fi
