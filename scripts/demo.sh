#!/usr/bin/env bash
# The run command: installs what is missing, builds the command-line program
# and the local API simulator, and runs `kestrune demo`, which starts the
# simulator on a free loopback port and takes a short tour against it; then
# says how to go on by hand. Arguments are passed to `kestrune demo`.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages "${NATIVE_PACKAGES[@]}"

mkdir -p build
log=build/demo-build.log
echo "building kestrune and kestrune-sim in build/release (a few minutes the first time;" \
  "the log is $log)..."
if ! { cmake --preset release && cmake --build --preset release -j "$(nproc)" \
         --target kestrune kestrune-sim; } >"$log" 2>&1; then
  cat "$log"
  echo "the build failed; its log is $log" >&2
  exit 1
fi
status=0
build/release/cli/kestrune demo "$@" || status=$?
if [ "$status" -eq 0 ]; then
  cat <<NEXT
The tour is over. To go on by hand against a simulator of your own (bash):
  export PATH="$PWD/build/release/cli:$PWD/build/release/sim:\$PATH"
  exec 3< <(kestrune-sim --port 0 2>kestrune-sim.log); read -r _ _ address <&3  # "listening on HOST:PORT"
  export KESTRUNE_ENDPOINT=\$address ALIBABA_CLOUD_ACCESS_KEY_ID=kestrune-demo-id ALIBABA_CLOUD_ACCESS_KEY_SECRET=kestrune-demo-secret
then, for example: kestrune call ecs DescribeInstances RegionId=cn-hangzhou
NEXT
fi
exit "$status"
