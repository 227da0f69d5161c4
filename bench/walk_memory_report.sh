#!/usr/bin/env bash
# Peak memory of `kestrune call ecs DescribeInstances --all-pages` against a
# local kestrune-sim, beside the size of the largest page:
#   - 128 pages of 4 MiB each (the simulator's big=4 fault pads every reply),
#     tsv: the rows go out page by page, so the peak should stay within a
#     few pages whatever their number;
#   - 100,000 instances in 1,000 pages of 100, tsv and json, and the same
#     with 10,000 instances (100 pages) to show what grows with the walk.
# Peak memory is the process's maximum resident set (getrusage ru_maxrss);
# "growth" is that minus the peak of a one-page call of the same kind.
#
# Usage: bench/walk_memory_report.sh [BUILD_DIR]   (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}

source bench/lib.sh
bench_build kestrune kestrune-sim
kestrune="$PWD/$build/cli/kestrune"
start_sim big --quiet --instances 12800@cn-hangzhou --fault big=4
start_sim many --quiet --instances 100000@cn-hangzhou
start_sim few --quiet --instances 10000@cn-hangzhou

python3 - "$kestrune" "$big_address" "$many_address" "$few_address" <<'PY'
import os, subprocess, sys
kestrune, big, many, few = sys.argv[1:]

def peak(address, *extra):
    argv = [kestrune, "call", "ecs", "DescribeInstances", "RegionId=cn-hangzhou",
            "--endpoint", address, *extra]
    devnull = os.open(os.devnull, os.O_WRONLY)
    pid = os.posix_spawn(argv[0], argv, os.environ,
                         file_actions=[(os.POSIX_SPAWN_DUP2, devnull, 1)])
    _, status, usage = os.wait4(pid, 0)
    if status != 0:
        sys.exit("failed: " + " ".join(argv))
    return usage.ru_maxrss / 1024.0  # MiB

def page_mib(address, fmt):
    body = subprocess.run([kestrune, "call", "ecs", "DescribeInstances", "RegionId=cn-hangzhou",
                           "PageSize=100", "--raw", "--format", fmt, "--endpoint", address],
                          stdout=subprocess.PIPE, check=True).stdout
    return len(body) / 1048576.0

def report(label, address, fmt, pages):
    largest = page_mib(address, fmt)
    one = peak(address, "PageSize=100", "--format", fmt)
    whole = peak(address, "--all-pages", "--format", fmt)
    growth = whole - one
    print(f"{label}, {fmt}: {pages} pages, largest page {largest:.2f} MiB; peak {whole:.1f} MiB "
          f"(one page {one:.1f} MiB; growth {growth:.1f} MiB = {growth / largest:.2f} pages)")

report("128 pages of 4 MiB", big, "tsv", 128)
report("10,000 instances", few, "tsv", 100)
report("100,000 instances", many, "tsv", 1000)
report("10,000 instances", few, "json", 100)
report("100,000 instances", many, "json", 1000)
PY
