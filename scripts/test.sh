#!/usr/bin/env bash
# The test command: installs what is missing, builds every configuration
# (Linux debug, Linux with AddressSanitizer and UndefinedBehaviorSanitizer,
# Windows x86_64 and Windows i686) with warnings as errors, and runs all tests:
# natively, under the sanitizers, and the Windows x86_64 and i686 programs
# under Wine in a virtual X display (with the simulator that ctest starts
# from the native build); zips each Windows build; builds the Debian package,
# installs it and runs the installed program; runs each fuzz target briefly
# and the static analysis; and last takes the run command's tour in a
# brand-new Debian 12 system (scripts/fresh-debian.sh).
#
#   scripts/test.sh            everything
#   scripts/test.sh native     only the listed parts
#                              (native asan win64 win32 package fuzz analysis fresh)
#   FUZZ_SECONDS=N             seconds per fuzz target (default 30)
#
# The win32 tests need a machine that can execute 32-bit programs; where it
# cannot, the win32 configuration is built and zipped, and one line says its
# tests were not run. The package and fresh parts need root (or sudo); fresh
# also needs the Debian archive.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh

parts=("$@")
[ ${#parts[@]} -eq 0 ] && parts=(native asan win64 win32 package fuzz analysis fresh)
configs=()
extras=()
for part in "${parts[@]}"; do
  case $part in
    fuzz|analysis|package|fresh) extras+=("$part") ;;
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
not_run=()
passed=()

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
      if [ "$config" = win32 ] && ! can_execute_32bit; then
        not_run+=("win32: built; its tests were not run: this machine cannot execute 32-bit programs")
      else
        echo "=== $config: tests under Wine"
        started=$(date +%s)
        if xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset "$config" -j "$jobs"; then
          passed+=("$config")
        else
          failed+=("$config")
        fi
        timings+=("$config tests under Wine: $(($(date +%s) - started)) s")
      fi
      echo "=== $config: zip"
      cpack --preset "$config" || failed+=("$config zip")
      ;;
    *)
      echo "=== $config: tests"
      if ctest --preset "$config" -j "$jobs"; then passed+=("$config"); else failed+=("$config"); fi
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
    test -s /usr/share/man/man1/kestrune-call.1.gz &&
    test -s /usr/share/bash-completion/completions/kestrune &&
    test -s /usr/share/zsh/vendor-completions/_kestrune &&
    test -s /usr/share/fish/vendor_completions.d/kestrune.fish
}

# The run command in a brand-new Debian 12 system, from a clone of the
# committed HEAD: it must install all it needs and finish the tour, which
# scripts/demo.sh closes with its "The tour is over." line.
fresh() {
  local log=build/fresh-demo.log status=0
  mkdir -p build
  scripts/fresh-debian.sh 'scripts/demo.sh' 2>&1 | tee "$log" || status=$?
  [ "$status" -eq 0 ] && grep -q '^The tour is over\.' "$log"
}

for extra in "${extras[@]}"; do
  result=0
  case $extra in
    package)
      echo "=== package: the Debian package, installed"
      package || result=1
      ;;
    fuzz)
      echo "=== fuzz: each target for ${FUZZ_SECONDS:-30} s"
      fuzz/run.sh --seconds "${FUZZ_SECONDS:-30}" || result=1
      ;;
    analysis)
      echo "=== analysis: clang-tidy and cppcheck"
      scripts/static_analysis.sh || result=1
      ;;
    fresh)
      echo "=== fresh: the run command in a brand-new Debian 12 system"
      started=$(date +%s)
      fresh || result=1
      timings+=("fresh Debian tour: $(($(date +%s) - started)) s")
      ;;
  esac
  if [ $result -eq 0 ]; then passed+=("$extra"); else failed+=("$extra"); fi
done

for timing in "${timings[@]}"; do echo "$timing"; done
for line in "${not_run[@]}"; do echo "$line"; done
if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "all parts passed: ${passed[*]}"
