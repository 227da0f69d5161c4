#!/usr/bin/env bash
# Takes the README's picture of the main dialog: runs the real Kestrune.exe
# under Wine in a virtual X display against a local kestrune-sim, fills in
# the DescribeInstances form from outside (RegionId cn-shanghai, PageSize 10),
# sends it, waits for the formatted reply, reads the window's pixels and
# writes a PNG.
#
#   ui/screenshot.sh [--scale PERCENT] [BUILD_DIR] [OUTPUT.png] [SIMULATOR]
#
# --scale draws the window at PERCENT of 96 DPI (125, 150...), as Windows'
# display scaling does; the prefix keeps that DPI until the next run.
#
# BUILD_DIR is a Windows x86_64 build (default build/win64) with the targets
# kestrune_gui and kestrune_dialog_probe built; OUTPUT defaults to
# docs/dialog.png; SIMULATOR is a native kestrune-sim (default
# build/native/sim/kestrune-sim, built with the native preset when missing).
# Needs wine, xvfb (xvfb-run), fonts-wqy-microhei (the Chinese captions) and
# python3. The pixels are
# read inside Wine (GDI) and encoded by ui/bmp_to_png.py, so no X screenshot
# tool is needed.
set -euo pipefail
scale=100
if [ "${1:-}" = --scale ]; then
  scale=$2
  shift 2
fi
case $scale in ''|*[!0-9]*) echo "--scale takes a percentage" >&2; exit 2 ;; esac
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/win64}" && pwd)
output=${2:-$root/docs/dialog.png}
sim=${3:-$root/build/native/sim/kestrune-sim}

program=$build/ui/Kestrune.exe
probe=$build/tests/ui/kestrune_dialog_probe.exe
for file in "$program" "$probe"; do
  [ -f "$file" ] || { echo "missing $file: build kestrune_gui and kestrune_dialog_probe" >&2; exit 1; }
done
if [ ! -x "$sim" ]; then
  (cd "$root" && cmake --preset native >/dev/null && cmake --build --preset native -j2 --target kestrune-sim)
fi

work=$(mktemp -d)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
  [ -z "${prefix:-}" ] || "$wine_run" "$prefix" --end-session
}
trap cleanup EXIT
"$sim" --port 0 >"$work/sim.out" 2>/dev/null &
sim_pid=$!
for _ in $(seq 100); do
  [ -s "$work/sim.out" ] && break
  sleep 0.1
done
address=$(head -n 1 "$work/sim.out")
address=${address#listening on }
case $address in 127.0.0.1:*) ;; *) echo "the simulator did not start" >&2; exit 1 ;; esac

# A prefix of its own, in which Wine draws the window frames itself (there is
# no window manager in the virtual display to draw them).
prefix=$build/wineprefix-screenshot
wine_run=$root/cmake/wine-run.sh
"$wine_run" "$prefix" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f \
  >/dev/null 2>&1 || true
# The DPI Wine draws for, read when its session starts, and a screen large
# enough for the window drawn at it.
dpi=$((96 * scale / 100))
screen=1280x1024
[ "$scale" -le 100 ] || screen=1920x1200
"$wine_run" "$prefix" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
  >/dev/null 2>&1 || true
# The window opens at the template's size, not at one an earlier run (at
# another scale) left behind.
"$wine_run" "$prefix" reg delete 'HKCU\Software\Kestrune' /f >/dev/null 2>&1 || true
# End that Wine session: its processes have no display, and the settings
# take effect in the next.
"$wine_run" "$prefix" --end-session

# The program keeps its credential file in the working directory; run it in
# an empty one.
mkdir "$work/run"
(cd "$work/run" && KESTRUNE_ENDPOINT=$address LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 \
  xvfb-run -a -s "-screen 0 ${screen}x24" \
  "$wine_run" "$prefix" "$probe" --instances --snapshot "$work/dialog.bmp" "$program")
mkdir -p "$(dirname "$output")"
python3 "$root/ui/bmp_to_png.py" "$work/dialog.bmp" "$output"
echo "wrote $output"
