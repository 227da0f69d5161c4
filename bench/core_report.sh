#!/usr/bin/env bash
# Runs the digest benchmark and prints our times beside OpenSSL's as ratios.
# Usage: bench/core_report.sh [BUILD_DIR]   (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
cmake --build "$build" --target core_bench >/dev/null
"$build/bench/core_bench" --benchmark_format=csv --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true 2>/dev/null |
  awk -F, '/_median/ { gsub(/"/, "", $1); sub(/_median/, "", $1); t[$1] = $3; u[$1] = $5 }
    END {
      printf "SHA-1 64 KiB: kestrune %.1f us, OpenSSL %.1f us, ratio %.2f\n",
        t["BM_Sha1_64KiB_Kestrune"] / 1000, t["BM_Sha1_64KiB_OpenSsl"] / 1000,
        t["BM_Sha1_64KiB_Kestrune"] / t["BM_Sha1_64KiB_OpenSsl"];
      printf "HMAC-SHA1 400 B: kestrune %.3f us, OpenSSL %.3f us, ratio %.2f (target <= 3)\n",
        t["BM_Hmac_400B_Kestrune"] / 1000, t["BM_Hmac_400B_OpenSsl"] / 1000,
        t["BM_Hmac_400B_Kestrune"] / t["BM_Hmac_400B_OpenSsl"];
      printf "HMAC-SHA1 400 B: OpenSSL with a reused context %.3f us, ratio %.2f (target <= 3)\n",
        t["BM_Hmac_400B_OpenSslReusedContext"] / 1000,
        t["BM_Hmac_400B_Kestrune"] / t["BM_Hmac_400B_OpenSslReusedContext"];
    }'
