#!/usr/bin/env bash
# The Windows build on a Linux machine: cross-builds with MinGW-w64, runs the
# unit tests under Wine, makes the zip and the MSI and installs the MSI under
# Wine, then a batch scan against Wine's own WMI service and checks the
# report; finally replays the recorded snapshot and runs the live scan
# benchmark once (figures, not a gate).
#   .ci/windows.sh            (run from anywhere; needs root for apt-get)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# The packages come from the one list in scripts/install-deps.sh.
scripts/install-deps.sh --windows
scripts/install-deps.sh --check --windows

build=build/windows
cmake --preset windows >/dev/null
cmake --build --preset windows
# Makes the Wine prefix in the build tree (first test) and runs the unit tests.
ctest --preset windows

echo "== the Windows zip and MSI"
cmake --build --preset windows --target package >/dev/null
(cd "$build" && cmake -E tar tvf veltrix-*-win64.zip)
msiinfo export "$build"/veltrix-*-win64.msi File | tail -n +4

# The MSI installed, upgraded and removed under Wine in a prefix of its own,
# its agent enrolling with the Linux build's fleet server on loopback.
echo "== the MSI under Wine, against veltrix-server"
cmake --preset dev >/dev/null
cmake --build --preset dev --target veltrix_server_program >/dev/null
/usr/bin/python3 tests/packaging/wine_msi_test.py "$(command -v wine)" "$(ls "$build"/veltrix-*-win64.msi)" \
  build/dev/veltrix-server "$root/$build/wineprefix-msi" cmake/wine_prefix.sh

export WINEPREFIX=$root/$build/wineprefix WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="
out=$build/wine-scan
rm -rf "$out"
mkdir -p "$out"
winpath() { echo "Z:$(cd "$(dirname "$1")" && pwd)/$(basename "$1")" | tr / '\\'; }

# Two programs in the uninstall keys, so that the software section reads the
# registry through the registry provider (a fresh prefix has none).
for key in 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VeltrixProbe' \
           'HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\VeltrixProbe32'; do
  wine reg add "$key" /v DisplayName /d "Veltrix Probe ${key##*Probe}" /f >/dev/null
  wine reg add "$key" /v DisplayVersion /d '1.2.3' /f >/dev/null
done

echo "== batch scan against Wine's WMI (veltrix.com, the console build scripts use)"
start=$(date +%s%N)
status=0
wine "$build/veltrix.com" --batch --name winetest --output-dir "$(winpath "$out")" \
  --save-snapshot "$(winpath "$out/winetest.json")" --trace 2> "$out/trace.txt" || status=$?
end=$(date +%s%N)
grep -av '^wmi: ' "$out/trace.txt" >&2 || true
echo "scan exit code $status, wall time $(( (end - start) / 1000000 )) ms"
# Each class is enumerated once per scan, however many queries read it; only
# a failed enumeration is read once more ("(again)").
echo "enumerations per class (from --trace):"
tr -d '\r' < "$out/trace.txt" | sed -n 's/^wmi: enumerate \([^ :]*\).*/\1/p' | sort | uniq -c | sed 's/^/  /'
if tr -d '\r' < "$out/trace.txt" | grep -v '^wmi: enumerate [^ :]* (again)' |
   sed -n 's/^wmi: enumerate \([^ :]*\).*/\1/p' | sort -f | uniq -di | grep -q .; then
  echo "a class was enumerated more than once in one scan" >&2; exit 1
fi
# Exit 1 is a scan that ended with an error message; the report must still
# be complete. Anything else is a crash or refused arguments.
[ "$status" -le 1 ] || { echo "batch scan failed with exit code $status" >&2; exit 1; }
.ci/check_report.sh "$out/winetest.htm" Bios
grep -q "The Wine Project&nbsp;" "$out/winetest.htm" || { echo "the Bios section lacks Wine's maker" >&2; exit 1; }
if grep -q "&nbsp;Installed Software</strong>" "$out/winetest.htm"; then
  grep -q "&nbsp;Veltrix Probe " "$out/winetest.htm" ||
    { echo "the software section does not list the programs put into the registry" >&2; exit 1; }
fi

echo "== the recorded snapshot replays into a well-formed report (veltrix.exe, the windows build)"
status=0
wine "$build/veltrix.exe" --batch --name replay --output-dir "$(winpath "$out")" \
  --snapshot "$(winpath "$out/winetest.json")" || status=$?
[ "$status" -le 1 ] || { echo "replaying the snapshot failed with exit code $status" >&2; exit 1; }
.ci/check_report.sh "$out/replay.htm" Bios >/dev/null
sections() { LC_ALL=C grep -o "<strong>&nbsp;[^<]*</strong></td></tr>" "$1"; }
# The live scan answers every query of a class from one enumeration with
# the same evaluator the replay uses, so both list the same sections.
if ! diff <(sections "$out/winetest.htm") <(sections "$out/replay.htm") >/dev/null; then
  echo "sections that differ between the live scan (<) and its replay (>):" >&2
  diff <(sections "$out/winetest.htm") <(sections "$out/replay.htm") | sed -n 's/^[<>] /  &/p' >&2 || true
  exit 1
fi

echo "== a folder and a report name beyond ASCII, through the command line (veltrix.com)"
umlauts="$out/Gr$(printf '\303\266\303\237')e-$(printf '\346\212\245\345\221\212')"
mkdir -p "$umlauts"
status=0
wine "$build/veltrix.com" --batch --name "$(printf '\320\276\321\202\321\207\321\221\321\202')" \
  --output-dir "$(winpath "$umlauts")" --snapshot "$(winpath "$out/winetest.json")" \
  --save-snapshot "$(winpath "$umlauts/copy.json")" 2> "$out/umlauts.txt" || status=$?
[ "$status" -le 1 ] || { cat "$out/umlauts.txt" >&2; echo "the scan into $umlauts failed" >&2; exit 1; }
ls "$umlauts" | grep -qx "$(printf '\320\276\321\202\321\207\321\221\321\202').htm" ||
  { ls -la "$out" >&2; echo "the report is not in $umlauts under its name" >&2; exit 1; }
[ -s "$umlauts/copy.json" ] || { echo "the snapshot is not in $umlauts" >&2; exit 1; }
grep -aq "$(basename "$umlauts")" "$out/umlauts.txt" ||
  { cat "$out/umlauts.txt" >&2; echo "the message does not name the folder as given" >&2; exit 1; }

echo "== benchmark (figures, not a gate)"
for bench in "$build"/bench_windows_*.exe; do
  [ -f "$bench" ] || continue
  wine "$bench" || echo "(benchmark $(basename "$bench") failed)"
done
wineserver -w
