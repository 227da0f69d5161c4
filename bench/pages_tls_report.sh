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

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKESTRUNE_WERROR=ON >/dev/null
fi
cmake --build "$build" --target kestrune kestrune-sim -j 2 >/dev/null
kestrune="$PWD/$build/cli/kestrune"
sim="$build/sim/kestrune-sim"

id=bench-id
secret=bench-secret-$$
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# Starts a simulator with extra options; its banner lines go to $work/$1, its
# log (connections and requests) to $work/$1.log.
start_sim() {
  local name=$1; shift
  mkfifo "$work/$name.fifo"
  "$sim" --port 0 --access-key "$id:$secret" --nonce-window 0 --instances 1000@cn-hangzhou "$@" \
    >"$work/$name.fifo" 2>"$work/$name.log" &
  pids+=($!)
  exec {fd}<"$work/$name.fifo"
  read -r -u "$fd" banner || { echo "kestrune-sim $* did not start" >&2; exit 1; }
  echo "$banner" >"$work/$name"
  if [ "$name" = tls ]; then
    read -r -u "$fd" ca_line || { echo "kestrune-sim $* named no CA file" >&2; exit 1; }
    echo "$ca_line" >>"$work/$name"
  fi
}

start_sim plain
start_sim tls --tls-self-signed "$work/ca"
plain=$(sed -n 1p "$work/plain"); plain=${plain#listening on }
secure=$(sed -n 1p "$work/tls"); secure=${secure#listening on }
ca_file=$(sed -n 2p "$work/tls")
for address in "$plain" "$secure"; do
  case $address in 127.0.0.1:*) ;; *) echo "a simulator did not start: $address" >&2; exit 1 ;; esac
done
[ -f "$ca_file" ] || { echo "the TLS simulator named no CA file: $ca_file" >&2; exit 1; }
export ALIBABA_CLOUD_ACCESS_KEY_ID=$id ALIBABA_CLOUD_ACCESS_KEY_SECRET=$secret

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
  connections=$(grep -c 'connection #' "$work/$name.log" || true)
  echo "$name: $connections connections for $walks walks"
done
