#!/usr/bin/env bash
# The test command: installs what is missing, builds every configuration
# (Linux debug, Linux with AddressSanitizer and UndefinedBehaviorSanitizer,
# Windows x86_64 and Windows i686) with warnings as errors, and runs all tests:
# natively, under the sanitizers, and the Windows x86_64 programs under Wine in
# a virtual X display; then runs each fuzz target briefly and the static
# analysis.
#
#   scripts/test.sh            everything
#   scripts/test.sh native     only the listed parts (native asan win64 win32 fuzz analysis)
#   FUZZ_SECONDS=N             seconds per fuzz target (default 30)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh

parts=("$@")
[ ${#parts[@]} -eq 0 ] && parts=(native asan win64 win32 fuzz analysis)
configs=()
extras=()
for part in "${parts[@]}"; do
  case $part in
    fuzz|analysis) extras+=("$part") ;;
    *) configs+=("$part") ;;
  esac
done
jobs=${JOBS:-$(nproc)}

want_windows=no
for c in "${configs[@]}"; do case $c in win64|win32) want_windows=yes ;; esac; done
ensure_packages "${NATIVE_PACKAGES[@]}"
[ $want_windows = yes ] && ensure_packages "${WINDOWS_PACKAGES[@]}"
[ ${#extras[@]} -gt 0 ] && ensure_packages "${ANALYSIS_PACKAGES[@]}"

# The Windows tests under Wine talk to the simulator running natively.
sim_pid=""
start_native_sim() {
  [ -x build/native/sim/kestrune-sim ] || {
    cmake --preset native >/dev/null
    cmake --build --preset native -j "$jobs" --target kestrune-sim
  }
  local out=build/native/sim-for-wine.out
  : >"$out"
  build/native/sim/kestrune-sim --port 0 >"$out" 2>build/native/sim-for-wine.log &
  sim_pid=$!
  local line="" tries=0
  until line=$(head -n 1 "$out") && [ -n "$line" ]; do
    tries=$((tries + 1))
    [ $tries -gt 100 ] && { echo "the simulator did not start"; return 1; }
    sleep 0.1
  done
  export KESTRUNE_TEST_SIM=${line#listening on }
  # The Windows tests read the simulator's request log to prove no secret
  # reached it.
  export KESTRUNE_TEST_SIM_LOG="$PWD/build/native/sim-for-wine.log"
  echo "simulator for the Windows tests: $KESTRUNE_TEST_SIM"
}
stop_native_sim() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  sim_pid=""
}
trap stop_native_sim EXIT

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
      start_native_sim
      xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset "$config" -j "$jobs" ||
        failed+=("$config")
      stop_native_sim
      ;;
    *)
      echo "=== $config: tests"
      ctest --preset "$config" -j "$jobs" || failed+=("$config")
      ;;
  esac
done

for extra in "${extras[@]}"; do
  case $extra in
    fuzz)
      echo "=== fuzz: each target for ${FUZZ_SECONDS:-30} s"
      fuzz/run.sh --seconds "${FUZZ_SECONDS:-30}" || failed+=(fuzz)
      ;;
    analysis)
      echo "=== analysis: clang-tidy and cppcheck"
      scripts/static_analysis.sh || failed+=(analysis)
      ;;
  esac
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "all parts passed: ${parts[*]}"
