#!/bin/sh
# The desktop windows at 100, 125, 150 and 200% scaling: desktop_smoke.exe
# under Wine at 96, 120, 144 and 192 DPI (Wine's LogPixels setting), each
# window checked for its layout's size there and pictured into
# SCREENSHOTS/dpi-N/. A prefix of its own, so that changing the setting
# touches no other test.
#   dpi_screenshots.sh WINE XVFB_RUN PREFIX_SCRIPT PREFIX SMOKE_EXE VELTRIX_EXE SCREENSHOTS
set -eu
wine=$1 xvfb=$2 prefixScript=$3 prefix=$4 smoke=$5 program=$6 screenshots=$7
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
sh "$prefixScript" "$prefix"
mkdir -p "$screenshots"
status=0
for dpi in 96 120 144 192; do
  # Wine reads the setting when its server starts: one server per DPI.
  wineserver -k 2>/dev/null || true
  wineserver -w
  for key in 'HKCU\Control Panel\Desktop' 'HKCC\Software\Fonts'; do
    "$wine" reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
  done
  wineserver -w
  echo "== $dpi DPI"
  # A screen large enough for the windows at 200%.
  "$xvfb" -a -s "-screen 0 1920x1200x24" "$wine" "$smoke" "Z:$program" "Z:$screenshots/dpi-$dpi" "$dpi" ||
    { echo "the desktop windows failed at $dpi DPI" >&2; status=1; }
  wineserver -w
done
exit $status
