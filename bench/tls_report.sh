#!/usr/bin/env bash
# What TLS costs a whole request from the command line: `kestrune call ecs
# DescribeRegions` over HTTPS to a local kestrune-sim (with a self-signed CA of
# its own, trusted through --ca-file) beside the same call over plain HTTP to
# a second simulator, median of many runs, and, when bench/node has the
# vendor's Node SDK (@alicloud/pop-core, benchmark peer only), a fresh `node`
# process making the same HTTPS request. Both simulators run on 127.0.0.1
# with their replay check off, so every run is one request.
#
# Usage: bench/tls_report.sh [BUILD_DIR] [RUNS]   (default build/release, 300)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-300}
node_runs=$(( runs / 10 > 20 ? runs / 10 : 20 ))

source bench/lib.sh
bench_build kestrune kestrune-sim
kestrune="$build/cli/kestrune"
start_sim plain --quiet
start_sim tls --quiet --tls-self-signed "$bench_work/ca"
plain=$plain_address secure=$tls_address ca_file=$tls_ca

# Check each once (a failure must not be timed as a fast run).
"$kestrune" call ecs DescribeRegions --endpoint "$plain" | grep '^RequestId' >/dev/null ||
  { echo "kestrune did not get a good reply over HTTP" >&2; exit 1; }
"$kestrune" call ecs DescribeRegions --endpoint "https://$secure" --ca-file "$ca_file" |
  grep '^RequestId' >/dev/null || { echo "kestrune did not get a good reply over HTTPS" >&2; exit 1; }

have_node=
if [ -d bench/node/node_modules/@alicloud/pop-core ] && command -v node >/dev/null; then
  have_node=1
  export NODE_PATH=$PWD/bench/node/node_modules NODE_EXTRA_CA_CERTS=$ca_file
  node_code="
const RPCClient = require('@alicloud/pop-core').RPCClient;
const client = new RPCClient({ accessKeyId: process.env.ALIBABA_CLOUD_ACCESS_KEY_ID,
  accessKeySecret: process.env.ALIBABA_CLOUD_ACCESS_KEY_SECRET,
  endpoint: 'https://$secure', apiVersion: '2014-05-26' });
client.request('DescribeRegions', {}, { method: 'GET' })
  .then((reply) => { if (!reply.RequestId) process.exit(1); })
  .catch((error) => { console.error(error.message); process.exit(1); });"
  node -e "$node_code" || { echo "the Node SDK did not get a good reply over HTTPS" >&2; exit 1; }
fi

read -r http http_min http_cpu < <(measure "$runs" "$PWD/$kestrune" call ecs DescribeRegions \
                                   --endpoint "$plain")
read -r https https_min https_cpu < <(measure "$runs" "$PWD/$kestrune" call ecs DescribeRegions \
                                      --endpoint "https://$secure" --ca-file "$ca_file")
printf 'kestrune call over HTTP (median of %d): %.2f ms (best %.2f ms), CPU %.2f ms\n' \
  "$runs" "$http" "$http_min" "$http_cpu"
printf 'kestrune call over HTTPS, CA file (median of %d): %.2f ms (best %.2f ms), CPU %.2f ms\n' \
  "$runs" "$https" "$https_min" "$https_cpu"
awk -v http="$http" -v https="$https" -v hc="$http_cpu" -v sc="$https_cpu" 'BEGIN {
  printf "TLS adds %.2f ms by median time, %.2f ms of CPU\n", https - http, sc - hc }'
if [ -n "$have_node" ]; then
  read -r peer peer_min peer_cpu < <(measure "$node_runs" "$(command -v node)" -e "$node_code")
  printf 'node + @alicloud/pop-core over HTTPS (median of %d): %.1f ms (best %.1f ms), CPU %.1f ms\n' \
    "$node_runs" "$peer" "$peer_min" "$peer_cpu"
  awk -v ours="$https" -v peer="$peer" -v oc="$https_cpu" -v pc="$peer_cpu" 'BEGIN {
    printf "ratio over HTTPS: kestrune is %.1f times faster by median time, %.1f by CPU time (target: at least 20)\n",
      peer / ours, pc / oc }'
else
  echo "node + @alicloud/pop-core: not set up in bench/node (bench/cli_report.sh installs it)"
fi
