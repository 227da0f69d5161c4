#!/usr/bin/env bash
# One benchmark report: builds the release configuration and prints, in one
# run, every figure we track, each beside its peer and as a ratio:
#   - SHA-1 and HMAC-SHA1 beside OpenSSL;
#   - one signed request beside the vendor's Node SDK;
#   - the engine's round trip against the local simulator beside the Node SDK;
#   - whole-process time and memory of `kestrune call` beside a node process;
#   - the same call over HTTPS beside plain HTTP (and the Node SDK over HTTPS);
#   - one call over all 28 regions beside one call, 28 processes in turn and
#     the Node SDK with 28 requests at once;
#   - the simulator's throughput and latency at 1, 8 and 64 connections;
#   - the sizes of the Windows programs.
# The Node SDK (@alicloud/pop-core) is a benchmark peer only; bench/node holds
# its package file, and npm installs it on first use.
#
# Usage: bench/report.sh [RELEASE_BUILD_DIR [WIN64_BUILD_DIR WIN32_BUILD_DIR]]
#   defaults: build/release (the release preset), build/win64, build/win32.
#   It writes nothing; redirect the output to keep it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages "${NATIVE_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" nodejs time
command -v npm >/dev/null || ensure_packages npm

build=${1:-build/release}
win_builds=("${2:-build/win64}" "${3:-build/win32}")
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset release >/dev/null
  build=build/release
fi
for target in core_bench sign_bench engine_roundtrip sim_load kestrune kestrune-sim; do
  cmake --build "$build" -j "$(nproc)" --target "$target" >/dev/null
done

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
echo "## HTTPS beside plain HTTP"
bench/tls_report.sh "$build" 300
echo
echo "## Every page of a long list"
bench/pages_report.sh "$build" 30
echo
echo "## One call over every region"
bench/fanout_report.sh "$build" 20
echo
echo "## One call over every region under throttling"
bench/throttle_report.sh "$build" 10 40
echo
echo "## Every page of a long list over HTTPS"
bench/pages_tls_report.sh "$build" 30
echo
echo "## Simulator under load"
"$build/bench/sim_load" --seconds 2
echo
echo "## Windows programs (stripped, statically linked)"
for win in "${win_builds[@]}"; do
  if [ ! -f "$win/CMakeCache.txt" ]; then
    preset=$(basename "$win")
    cmake --preset "$preset" >/dev/null
  fi
  cmake --build "$win" -j "$(nproc)" --target kestrune kestrune_gui >/dev/null
  for exe in "$win/ui/Kestrune.exe" "$win/cli/kestrune.exe"; do
    [ -f "$exe" ] || continue
    if x86_64-w64-mingw32-objdump -f "$exe" 2>/dev/null | grep 'pei-x86-64' >/dev/null; then
      strip_tool=x86_64-w64-mingw32-strip; preset=win64
    else
      strip_tool=i686-w64-mingw32-strip; preset=win32
    fi
    stripped=$(mktemp)
    $strip_tool -o "$stripped" "$exe"
    printf '%s %s: %d bytes (target under 1 MiB)\n' "$preset" "$(basename "$exe")" \
      "$(stat -c %s "$stripped")"
    rm -f "$stripped"
  done
done
