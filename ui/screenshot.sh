#!/usr/bin/env bash
# Takes a picture of the main dialog after DescribeRegions: runs the real
# Kestrune.exe under Wine in a virtual X display, presses the button from
# outside, reads the window's pixels and writes a PNG.
#
#   ui/screenshot.sh [BUILD_DIR] [OUTPUT.png]
#
# BUILD_DIR is a Windows x86_64 build (default build/win64) with the targets
# kestrune_gui and kestrune_dialog_probe built; OUTPUT defaults to
# docs/dialog.png. Needs wine, xvfb (xvfb-run), fonts-wqy-microhei and a
# zh_CN.UTF-8 locale (without it Chinese captions show as boxes), and
# python3. Nothing else: the PNG is encoded by ui/bmp_to_png.py.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/win64}" && pwd)
output=${2:-$root/docs/dialog.png}

program=$build/ui/Kestrune.exe
probe=$build/tests/ui/kestrune_dialog_probe.exe
for file in "$program" "$probe"; do
  [ -f "$file" ] || { echo "missing $file: build kestrune_gui and kestrune_dialog_probe" >&2; exit 1; }
done
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  echo "note: no zh_CN.UTF-8 locale; Chinese captions will not render" >&2
fi

# A prefix of its own, in which Wine draws the window frames itself (there is
# no window manager in the virtual display to draw them).
prefix=$build/wineprefix-screenshot
wine_run=$root/cmake/wine-run.sh
"$wine_run" "$prefix" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f \
  >/dev/null 2>&1 || true
# Let that Wine session end: its processes have no display.
WINEPREFIX=$prefix wineserver -w 2>/dev/null || true

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The program keeps its credential file in the working directory; run it in
# an empty one.
(cd "$work" && LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$wine_run" "$prefix" "$probe" --snapshot "$work/dialog.bmp" "$program")
mkdir -p "$(dirname "$output")"
python3 "$root/ui/bmp_to_png.py" "$work/dialog.bmp" "$output"
echo "wrote $output"
