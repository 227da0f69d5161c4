#!/usr/bin/env bash
# Every page of a long list: `kestrune call ecs DescribeInstances --all-pages`
# over 1,000 instances (10 pages of 100) as one process, beside the same ten
# pages fetched by ten separate `kestrune call ... PageNumber=N PageSize=100`
# processes one after the other, as a shell loop would. Both against a local
# kestrune-sim on 127.0.0.1 holding the 1,000 instances in one region; median
# of the runs, and the ratio.
#
# Usage: bench/pages_report.sh [BUILD_DIR] [RUNS]   (default build/release, 30)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-30}

source bench/lib.sh
bench_build kestrune kestrune-sim
kestrune="$PWD/$build/cli/kestrune"
start_sim sim --quiet --instances 1000@cn-hangzhou
address=$sim_address

# Both must see all 1,000 records before anything is timed.
all=("$kestrune" call ecs DescribeInstances RegionId=cn-hangzhou --all-pages --format tsv
     --endpoint "$address")
count=$("${all[@]}" | grep -c '^InstanceId')
[ "$count" -eq 1000 ] || { echo "--all-pages showed $count records, not 1000" >&2; exit 1; }

python3 - "$runs" "$kestrune" "$address" "${all[@]}" <<'PY'
import os, statistics, subprocess, sys, time
runs, kestrune, address, whole = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4:]
pages = [[kestrune, "call", "ecs", "DescribeInstances", "RegionId=cn-hangzhou",
          f"PageNumber={n}", "PageSize=100", "--format", "tsv", "--endpoint", address]
         for n in range(1, 11)]
def timed(argvs):
    start = time.perf_counter_ns()
    for argv in argvs:
        subprocess.run(argv, stdout=subprocess.DEVNULL, check=True)
    return (time.perf_counter_ns() - start) / 1e6
one = statistics.median(timed([whole]) for _ in range(runs))
ten = statistics.median(timed(pages) for _ in range(runs))
print(f"--all-pages, 1000 instances in 10 pages of 100, one process (median of {runs}): {one:.1f} ms")
print(f"the same 10 pages as 10 kestrune call processes in turn (median of {runs}): {ten:.1f} ms")
print(f"ratio: one process takes {one / ten:.2f} of the time of ten ({ten / one:.1f} times faster)")
PY
