#!/usr/bin/env bash
# The dialog program under Wine in a virtual X display: the time from starting
# Kestrune.exe to its dialog shown and to its first paint (nothing of the
# window left to paint), for the 64-bit and the 32-bit build, and the time
# from pressing Cancel on a request in flight to an idle window again (the
# request goes to a listener that never answers). Median and best of several
# runs, each in a warm prefix (one run first warms it).
#
# Usage: bench/dialog_report.sh [RUNS]   (default 7)
# Needs the win64 and win32 presets' builds of kestrune_gui and
# kestrune_dialog_probe (built here when missing), wine and xvfb-run.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-7}
# Everything below runs inside one virtual display.
if [ -z "${KESTRUNE_BENCH_DISPLAY:-}" ]; then
  KESTRUNE_BENCH_DISPLAY=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

summary() {  # label, then values on stdin
  sort -n | awk -v label="$1" '{ v[NR] = $1 } END {
    if (NR == 0) { printf "%s: no value\n", label; exit }
    printf "%s (median of %d): %.1f ms (best %.1f ms)\n", label, NR, v[int((NR + 1) / 2)], v[1] }'
}

measure() {  # preset
  local preset=$1 build=$PWD/build/$1
  [ -f "$build/CMakeCache.txt" ] || cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2 --target kestrune_gui kestrune_dialog_probe >/dev/null
  local prefix=$build/wineprefix-bench out wine_run=$PWD/cmake/wine-run.sh
  out=$(mktemp)
  # The probe and the program run in an empty working directory: no "sign".
  local work
  work=$(mktemp -d)
  for ((i = 0; i <= runs; i++)); do
    (cd "$work" && "$wine_run" "$prefix" "$build/tests/ui/kestrune_dialog_probe.exe" \
      --cancel "$build/ui/Kestrune.exe") >"$out.$i" 2>&1 || {
      cat "$out.$i" >&2
      echo "the probe failed for $preset" >&2
      return 1
    }
  done
  # Run 0 warmed the prefix; it is not counted. Wine's console ends lines with "\r\n".
  values() { for ((i = 1; i <= runs; i++)); do tr -d '\r' <"$out.$i" | sed -n "s/^$1 \([0-9.]*\) ms\$/\1/p"; done; }
  values "dialog shown after" | summary "$preset: start to dialog shown"
  values "first paint after" | summary "$preset: start to first paint"
  values "cancel to idle window" | summary "$preset: Cancel to idle window"
  rm -rf "$out" "$out".* "$work"
}

echo "machine load average $(cut -d' ' -f1 /proc/loadavg); $(wine --version)"
measure win64
measure win32
