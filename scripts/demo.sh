#!/usr/bin/env bash
# The run command: installs what is missing, builds the command-line program
# and the local API simulator, and runs `kestrune demo`, which starts the
# simulator on a free loopback port and takes a short tour against it.
# Arguments are passed to `kestrune demo`.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages "${NATIVE_PACKAGES[@]}"

cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target kestrune kestrune-sim >/dev/null
exec build/release/cli/kestrune demo "$@"
