#!/usr/bin/env bash
# Peak memory of `kestrune call ecs DescribeInstances --all-pages` against a
# local kestrune-sim, beside the size of the largest page:
#   - 1, 8, 32 and 128 pages of 4 MiB each (the simulator's big=4 fault pads
#     every reply), tsv and json: the rows go out page by page, and a JSON
#     walk sets each page's records aside in a scratch file, so the peak
#     should stay within a few pages whatever their number;
#   - 100,000 instances in 1,000 pages of 100, tsv and json, and the same
#     with 10,000 instances (100 pages) to show what grows with the walk.
# Peak memory is the process's maximum resident set (GNU time's %M).
# "base" is the peak of a call with a tiny reply (DescribeRegions); "growth"
# is the walk's peak minus that, also counted in largest pages.
#
# Usage: bench/walk_memory_report.sh [BUILD_DIR]   (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}

source bench/lib.sh
bench_build kestrune kestrune-sim
kestrune="$PWD/$build/cli/kestrune"
start_sim big1 --quiet --instances 100@cn-hangzhou --fault big=4
start_sim big8 --quiet --instances 800@cn-hangzhou --fault big=4
start_sim big32 --quiet --instances 3200@cn-hangzhou --fault big=4
start_sim big128 --quiet --instances 12800@cn-hangzhou --fault big=4
start_sim many --quiet --instances 100000@cn-hangzhou
start_sim few --quiet --instances 10000@cn-hangzhou

echo "load before: $(uptime | sed 's/.*load average: //')"
python3 - "$kestrune" "$big1_address" "$big8_address" "$big32_address" "$big128_address" \
  "$many_address" "$few_address" <<'PY'
import os, re, subprocess, sys
kestrune, big1, big8, big32, big128, many, few = sys.argv[1:]

def peak(address, *argv_tail):
    # Through GNU time: a child forked from this (larger) Python process would
    # count Python's resident set as its own peak (ru_maxrss survives exec).
    argv = ["/usr/bin/time", "-f", "%M", kestrune, "call", "ecs", *argv_tail,
            "--endpoint", address]
    done = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if done.returncode != 0:
        sys.exit("failed: " + " ".join(argv) + "\n" + done.stderr.decode(errors="replace"))
    return int(done.stderr.split()[-1]) / 1024.0  # MiB

def page_mib(address, fmt):
    # The body's size as --debug reports it: --raw prints XML only.
    debug = subprocess.run([kestrune, "call", "ecs", "DescribeInstances", "RegionId=cn-hangzhou",
                            "PageSize=100", "--debug", "--format", fmt, "--endpoint", address],
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=True).stderr
    sizes = re.findall(rb"a body of (\d+) bytes", debug)
    return int(sizes[-1]) / 1048576.0

base = {fmt: peak(few, "DescribeRegions", "--format", fmt) for fmt in ("tsv", "json")}
print(f"base (DescribeRegions): tsv {base['tsv']:.1f} MiB, json {base['json']:.1f} MiB")

def report(label, address, fmt, pages):
    largest = page_mib(address, fmt)
    whole = peak(address, "DescribeInstances", "RegionId=cn-hangzhou", "--all-pages",
                 "--format", fmt)
    growth = whole - base[fmt]
    print(f"{label}, {fmt}: {pages} pages, largest page {largest:.2f} MiB; peak {whole:.1f} MiB "
          f"= {whole / largest:.2f} pages; growth {growth:.1f} MiB = {growth / largest:.2f} pages")

for fmt in ("tsv", "json"):
    for pages, address in ((1, big1), (8, big8), (32, big32), (128, big128)):
        report(f"{pages} pages of 4 MiB", address, fmt, pages)
report("10,000 instances", few, "tsv", 100)
report("100,000 instances", many, "tsv", 1000)
report("10,000 instances", few, "json", 100)
report("100,000 instances", many, "json", 1000)
PY
echo "load after: $(uptime | sed 's/.*load average: //')"
