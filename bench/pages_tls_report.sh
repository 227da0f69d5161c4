#!/usr/bin/env bash
# What TLS costs a page walk once its pages share one connection:
# `kestrune call ecs DescribeInstances --all-pages` over 10 pages of 100 over
# HTTPS to a local kestrune-sim (with a self-signed CA of its own, trusted
# through --ca-file) beside the same walk over plain HTTP to a second
# simulator, each holding 1,000 instances in one region; median of the runs,
# and the ratio (the target is 1.15 at most). Each simulator's log counts the
# connections the walks opened: one per walk.
#
# Usage: bench/pages_tls_report.sh [BUILD_DIR] [RUNS]   (default build/release, 30)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-30}

source bench/lib.sh
bench_build kestrune kestrune-sim
kestrune="$PWD/$build/cli/kestrune"
start_sim plain --instances 1000@cn-hangzhou
start_sim tls --instances 1000@cn-hangzhou --tls-self-signed "$bench_work/ca"
plain=$plain_address secure=$tls_address ca_file=$tls_ca
walk=("$kestrune" call ecs DescribeInstances RegionId=cn-hangzhou --all-pages --format tsv)
http=("${walk[@]}" --endpoint "$plain")
https=("${walk[@]}" --endpoint "https://$secure" --ca-file "$ca_file")
# Both must see all 1,000 records before anything is timed.
for argv in http https; do
  declare -n command=$argv
  count=$("${command[@]}" | grep -c '^InstanceId')
  [ "$count" -eq 1000 ] || { echo "--all-pages over $argv showed $count records, not 1000" >&2; exit 1; }
done

python3 - "$runs" "${#http[@]}" "${http[@]}" "${https[@]}" <<'PY'
import statistics, subprocess, sys, time
runs, size = int(sys.argv[1]), int(sys.argv[2])
http, https = sys.argv[3:3 + size], sys.argv[3 + size:]
def timed(argv):
    start = time.perf_counter_ns()
    subprocess.run(argv, stdout=subprocess.DEVNULL, check=True)
    return (time.perf_counter_ns() - start) / 1e6
plain, secure = [], []
for _ in range(runs):  # interleaved, so both see the same load
    plain.append(timed(http))
    secure.append(timed(https))
p, s = statistics.median(plain), statistics.median(secure)
print(f"--all-pages, 10 pages of 100 over HTTP (median of {runs}): {p:.1f} ms (best {min(plain):.1f} ms)")
print(f"--all-pages, 10 pages of 100 over HTTPS (median of {runs}): {s:.1f} ms (best {min(secure):.1f} ms)")
print(f"ratio: HTTPS takes {s / p:.2f} times the HTTP time (target 1.15 at most)")
PY
walks=$(( runs + 1 ))
for name in plain tls; do
  connections=$(grep -c 'connection #' "$bench_work/$name.log" || true)
  echo "$name: $connections connections for $walks walks"
done
