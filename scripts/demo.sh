#!/usr/bin/env bash
# The run command: installs what is missing, builds the command-line program
# and the local API simulator, and runs `kestrune demo`, which starts the
# simulator on a free loopback port and takes a short tour against it.
# Arguments are passed to `kestrune demo`.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages "${NATIVE_PACKAGES[@]}"

echo "building kestrune and kestrune-sim (build/release)..."
mkdir -p build
log=build/demo-build.log
if ! { cmake --preset release && cmake --build --preset release -j "$(nproc)" \
         --target kestrune kestrune-sim; } >"$log" 2>&1; then
  cat "$log"
  exit 1
fi
exec build/release/cli/kestrune demo "$@"
