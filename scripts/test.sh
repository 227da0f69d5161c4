#!/usr/bin/env bash
# The test command: installs what is missing, builds every configuration
# (Linux debug, Linux with AddressSanitizer and UndefinedBehaviorSanitizer,
# Windows x86_64 and Windows i686) with warnings as errors, and runs all tests:
# natively, under the sanitizers, and the Windows x86_64 and i686 programs
# under Wine in a virtual X display (with the simulator that ctest starts
# from the native build); zips each Windows build; builds the Debian package,
# installs it and runs the installed program; then runs each fuzz target
# briefly and the static analysis.
#
#   scripts/test.sh            everything
#   scripts/test.sh native     only the listed parts (native asan win64 win32 package fuzz analysis)
#   FUZZ_SECONDS=N             seconds per fuzz target (default 30)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh

parts=("$@")
[ ${#parts[@]} -eq 0 ] && parts=(native asan win64 win32 package fuzz analysis)
configs=()
extras=()
for part in "${parts[@]}"; do
  case $part in
    fuzz|analysis|package) extras+=("$part") ;;
    *) configs+=("$part") ;;
  esac
done
jobs=${JOBS:-$(nproc)}

want_windows=no
for c in "${configs[@]}"; do case $c in win64|win32) want_windows=yes ;; esac; done
want_analysis=no
for e in "${extras[@]}"; do case $e in fuzz|analysis) want_analysis=yes ;; esac; done
ensure_packages "${NATIVE_PACKAGES[@]}"
[ $want_windows = yes ] && ensure_packages "${WINDOWS_PACKAGES[@]}"
[ $want_analysis = yes ] && ensure_packages "${ANALYSIS_PACKAGES[@]}"

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

failed=()
timings=()

# The Windows tests talk to a simulator that ctest starts from the native
# build (KESTRUNE_NATIVE_SIM); build it first when the native configuration
# is not among the parts.
if [ $want_windows = yes ] && [[ " ${configs[*]} " != *" native "* ]]; then
  echo "=== native: the simulator for the Windows tests"
  cmake --preset native >/dev/null
  cmake --build --preset native -j "$jobs" --target kestrune-sim
fi

for config in "${configs[@]}"; do
  echo "=== $config: configure and build"
  cmake --preset "$config" >/dev/null
  cmake --build --preset "$config" -j "$jobs"
done

for config in "${configs[@]}"; do
  case $config in
    win64|win32)
      echo "=== $config: tests under Wine"
      started=$(date +%s)
      xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset "$config" -j "$jobs" ||
        failed+=("$config")
      timings+=("$config tests under Wine: $(($(date +%s) - started)) s")
      echo "=== $config: zip"
      cpack --preset "$config" || failed+=("$config zip")
      ;;
    *)
      echo "=== $config: tests"
      ctest --preset "$config" -j "$jobs" || failed+=("$config")
      ;;
  esac
done

# The Debian package from a release build, installed into this machine; the
# installed programs must run from /usr/bin.
package() {
  cmake --preset package >/dev/null &&
    cmake --build --preset package -j "$jobs" &&
    cpack --preset package || return 1
  local deb
  deb=$(ls -t build/package/packages/kestrune_*.deb | head -n 1)
  $sudo dpkg -i "$deb" &&
    /usr/bin/kestrune --version &&
    /usr/bin/kestrune list &&
    /usr/bin/kestrune-sim --help >/dev/null &&
    test -s /usr/share/man/man1/kestrune.1.gz &&
    test -s /usr/share/man/man1/kestrune-sim.1.gz &&
    test -s /usr/share/bash-completion/completions/kestrune
}

for extra in "${extras[@]}"; do
  case $extra in
    package)
      echo "=== package: the Debian package, installed"
      package || failed+=(package)
      ;;
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

for timing in "${timings[@]}"; do echo "$timing"; done
if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "all parts passed: ${parts[*]}"
