#!/usr/bin/env bash
# One benchmark report: builds the release configuration and prints, in one
# run, every figure we track, each beside its peer and as a ratio:
#   - SHA-1 and HMAC-SHA1 beside OpenSSL;
#   - one signed request beside the vendor's Node SDK;
#   - the engine's round trip against the local simulator beside the Node SDK;
#   - whole-process time and memory of `kestrune call` beside a node process;
#   - the simulator's throughput and latency at 1, 8 and 64 connections;
#   - the sizes of the Windows programs.
# The Node SDK (@alicloud/pop-core) is a benchmark peer only; bench/node holds
# its package file, and npm installs it on first use.
#
# Usage: bench/report.sh            (writes nothing; redirect to keep the output)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages "${NATIVE_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" nodejs time
command -v npm >/dev/null || ensure_packages npm

build=build/release
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" >/dev/null

echo "# Kestrune benchmark report"
echo "date: $(date -u +%Y-%m-%dT%H:%M:%SZ); commit: $(git rev-parse --short HEAD 2>/dev/null || echo none)"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'),"\
     "$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo);" \
     "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "## Digests"
bench/core_report.sh "$build"
echo
echo "## Signing one request"
bench/sign_report.sh "$build"
echo
echo "## Engine round trip against kestrune-sim"
bench/engine_report.sh "$build"
echo
echo "## Whole kestrune process"
bench/cli_report.sh "$build" 300
echo
echo "## Simulator under load"
"$build/bench/sim_load" --seconds 2
echo
echo "## Windows programs (stripped, statically linked)"
for preset in win64 win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)" --target kestrune kestrune_gui >/dev/null
  for exe in "build/$preset/ui/Kestrune.exe" "build/$preset/cli/kestrune.exe"; do
    [ -f "$exe" ] || continue
    stripped=$(mktemp)
    case $preset in win64) strip_tool=x86_64-w64-mingw32-strip ;; *) strip_tool=i686-w64-mingw32-strip ;; esac
    $strip_tool -o "$stripped" "$exe"
    printf '%s %s: %d bytes (target under 1 MiB)\n' "$preset" "$(basename "$exe")" \
      "$(stat -c %s "$stripped")"
    rm -f "$stripped"
  done
done
