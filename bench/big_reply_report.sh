#!/usr/bin/env bash
# Peak memory and time of one large reply from the command line:
# `kestrune call ecs DescribeInstanceTypes` against a local kestrune-sim that
# pads every good reply to MIB MiB (--fault big), under /usr/bin/time for the
# maximum resident set size. Prints the reply's size, the peak, their ratio
# and the whole process's time to its rows (median of the runs), for the rows
# output, for --format json and for --raw; then the same for
# DescribeSecurityGroups, which has no formatter: every leaf is shown, so the
# padding becomes one row as long as the reply.
#
# Usage: bench/big_reply_report.sh [BUILD_DIR] [MIB] [RUNS]
#        (default build/release, 15, 5; the reply limit is 16 MiB with headers)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
mib=${2:-15}
runs=${3:-5}

source bench/lib.sh
bench_build kestrune kestrune-sim
kestrune="$build/cli/kestrune"
start_sim sim --quiet --fault "big=$mib"
address=$sim_address

call=("$kestrune" call ecs DescribeInstanceTypes --endpoint "$address")
size=$("${call[@]}" --raw | wc -c)
[ "$size" -gt $(( mib * 1000000 )) ] || { echo "no large reply ($size bytes)" >&2; exit 1; }
"${call[@]}" | grep '^RequestId' >/dev/null || { echo "kestrune did not show rows" >&2; exit 1; }

# One line per run: peak KiB, elapsed seconds and the CPU seconds of
# kestrune itself (the simulator's time to make the reply is in the elapsed
# time, not in the CPU time); then the medians.
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
measure() {
  local label=$1
  shift
  local runs_out
  runs_out=$(for _ in $(seq "$runs"); do
    /usr/bin/time -f '%M %e %U %S' "$@" 2>&1 >/dev/null | tail -n 1
  done)
  local kib sec cpu
  kib=$(awk '{ print $1 }' <<<"$runs_out" | median)
  sec=$(awk '{ print $2 }' <<<"$runs_out" | median)
  cpu=$(awk '{ print $3 + $4 }' <<<"$runs_out" | median)
  awk -v size="$size" -v label="$label" -v kib="$kib" -v sec="$sec" -v cpu="$cpu" -v n="$runs" '
    BEGIN {
      printf "%-4s peak %.1f MiB (%.2f times the reply); %.2f s to the end, CPU %.2f s (medians of %d)\n",
        label, kib / 1024, kib * 1024 / size, sec, cpu, n
    }'
}

echo "reply body: $size bytes ($(awk -v s="$size" 'BEGIN { printf "%.1f", s / 1048576 }') MiB)"
measure rows "${call[@]}"
measure json "${call[@]}" --format json
measure raw "${call[@]}" --raw
echo "DescribeSecurityGroups, every leaf a row:"
measure rows "$kestrune" call ecs DescribeSecurityGroups RegionId=cn-hangzhou --endpoint "$address"
