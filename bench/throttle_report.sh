#!/usr/bin/env bash
# One call over every region against a simulator that throttles: the 28
# regions named on the command line against `kestrune-sim --throttle RATE
# --latency 50` (default rate 40 a second per AccessKey, over any one second),
# as RUNS fan-outs one right after the other, so that after the first the
# account's rate, not the latency, sets the pace. Each run must show every
# region with a good reply (exit 0); the simulator's log says how many
# requests it throttled. The time is set beside the least the rate allows:
# R requests at RATE in any one second cannot end before ceil(R/RATE)-1
# seconds have passed, plus one reply's latency.
#
# Usage: bench/throttle_report.sh [BUILD_DIR] [RUNS] [RATE]
#        (default build/release, 10, 40)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-10}
rate=${3:-40}
latency=50

source bench/lib.sh
bench_build kestrune kestrune-sim
kestrune="$PWD/$build/cli/kestrune"
# Not --quiet: the request log counts what was throttled.
start_sim sim --latency "$latency" --throttle "$rate"
export KESTRUNE_ENDPOINT=$sim_address

# The 28 published regions, in the simulator's order; this listing is one
# request of the window too, so the timed runs start a second later.
mapfile -t regions < <("$kestrune" call ecs DescribeRegions --format tsv |
                       awk -F'\t' '$1 == "RegionId" { print $2 }')
count=${#regions[@]}
[ "$count" -gt 0 ] || { echo "no regions listed" >&2; exit 1; }
named=$(IFS=,; echo "${regions[*]}")
sleep 1.1

log="$bench_work/sim.log"
before_ok=$(grep -c ' DescribeInstances ok 200' "$log" || true)
before_throttled=$(grep -c ' DescribeInstances Throttling.User 400' "$log" || true)
times=()
start=$(date +%s%N)
for ((run = 1; run <= runs; run++)); do
  run_start=$(date +%s%N)
  out="$bench_work/run-$run.tsv"
  status=0
  "$kestrune" call ecs DescribeInstances --regions "$named" --format tsv >"$out" \
    2>"$bench_work/run-$run.err" || status=$?
  times+=("$(( ($(date +%s%N) - run_start) / 1000000 ))")
  shown=$(grep -c '^Region	' "$out" || true)
  answered=$(grep -c '^TotalCount	' "$out" || true)
  if [ "$status" -ne 0 ] || [ "$shown" -ne "$count" ] || [ "$answered" -ne "$count" ]; then
    echo "run $run: exit $status, $shown regions shown, $answered answered of $count" >&2
    cat "$bench_work/run-$run.err" >&2
    exit 1
  fi
done
total_ms=$(( ($(date +%s%N) - start) / 1000000 ))
ok=$(( $(grep -c ' DescribeInstances ok 200' "$log" || true) - before_ok ))
throttled=$(( $(grep -c ' DescribeInstances Throttling.User 400' "$log" || true) - before_throttled ))
requests=$(( runs * count ))
[ "$ok" -eq "$requests" ] ||
  { echo "the simulator answered $ok of $requests requests well" >&2; exit 1; }

printf 'simulator: --throttle %d --latency %d; machine load average %s\n' "$rate" "$latency" \
  "$(cut -d' ' -f1 /proc/loadavg)"
printf 'first fan-out over the %d regions (a fresh window): %d ms; ideal %d requests at %d a second: %d ms\n' \
  "$count" "${times[0]}" "$count" "$rate" "$(( count * 1000 / rate ))"
printf 'each of %d fan-outs in a row (ms): %s\n' "$runs" "${times[*]}"
awk -v total="$total_ms" -v requests="$requests" -v rate="$rate" -v latency="$latency" \
    -v throttled="$throttled" -v runs="$runs" -v count="$count" 'BEGIN {
  windows = int((requests + rate - 1) / rate);
  least = (windows - 1) * 1000 + latency;
  printf "%d fan-outs, %d requests, every region answered, none failed; %d attempts throttled and retried\n",
    runs, requests, throttled;
  printf "all %d runs: %d ms; least the rate allows (%d requests, %d in any second, then one reply): %d ms; ratio %.2f (target: at most 1.5)\n",
    runs, total, requests, rate, least, total / least;
}'
