#!/usr/bin/env bash
# The test command: installs what is missing, builds every configuration
# (Linux debug, Linux with AddressSanitizer and UndefinedBehaviorSanitizer,
# Windows x86_64 and Windows i686) with warnings as errors, and runs all tests:
# natively, under the sanitizers, and the Windows x86_64 programs under Wine in
# a virtual X display.
#
#   scripts/test.sh            everything
#   scripts/test.sh native     only the listed configurations (native asan win64 win32)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh

configs=("$@")
[ ${#configs[@]} -eq 0 ] && configs=(native asan win64 win32)
jobs=${JOBS:-$(nproc)}

want_windows=no
for c in "${configs[@]}"; do case $c in win64|win32) want_windows=yes ;; esac; done
ensure_packages "${NATIVE_PACKAGES[@]}"
[ $want_windows = yes ] && ensure_packages "${WINDOWS_PACKAGES[@]}"

failed=()
for config in "${configs[@]}"; do
  echo "=== $config: configure and build"
  cmake --preset "$config" >/dev/null
  cmake --build --preset "$config" -j "$jobs"
done

for config in "${configs[@]}"; do
  case $config in
    win32) continue ;;  # built, not run: 32-bit Wine is not installed here
    win64)
      echo "=== $config: tests under Wine"
      xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset "$config" -j "$jobs" ||
        failed+=("$config")
      ;;
    *)
      echo "=== $config: tests"
      ctest --preset "$config" -j "$jobs" || failed+=("$config")
      ;;
  esac
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "all configurations passed: ${configs[*]}"
