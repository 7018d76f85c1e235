#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian, installs it as a user
# would (apt-get install ./veltrix_<version>_amd64.deb), runs the installed
# program (--version, a snapshot replay, a scan of this machine) and removes
# the package again. Run from anywhere; needs root or sudo for apt-get.
set -euo pipefail
cd "$(dirname "$0")/.."
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"

cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)" --target package
version=$(sed -n 's/^project(Veltrix VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=veltrix_${version}_amd64.deb
[ -f "build/release/$deb" ] || { echo "test_deb: build/release/$deb was not made" >&2; exit 1; }

echo "== dpkg-deb -I $deb"
dpkg-deb -I "build/release/$deb"
echo "== dpkg-deb -c $deb"
dpkg-deb -c "build/release/$deb"
echo "== lintian $deb"
lintian --fail-on error "build/release/$deb"

# apt-get reads the file as its own unprivileged user: give it a folder it may enter.
work=$(mktemp -d)
chmod 755 "$work"
cp "build/release/$deb" "$work/"
chmod 644 "$work/$deb"
installed=0
cleanup() {
  if [ "$installed" -eq 1 ]; then
    $sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq veltrix >/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "test_deb: $*" >&2; exit 1; }

$sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$work/$deb" >/dev/null
installed=1
dpkg-query -W -f='${Status}\n' veltrix | grep -qx "install ok installed" || fail "the package is not installed"

[ "$(/usr/bin/veltrix --version)" = "Veltrix $version" ] || fail "--version says '$(/usr/bin/veltrix --version)'"
/usr/bin/veltrix --help | grep -q "Examples:" || fail "--help shows no examples"
[ -x /usr/libexec/veltrix/veltrix-desktop ] || fail "the desktop windows are not installed"
[ -x /usr/libexec/veltrix/veltrix-store ] || fail "the fleet store is not installed"
# The command line maps no database library; the store's program does.
! readelf -d /usr/bin/veltrix | grep -E 'NEEDED.*(libsqlite3|libpq|libssl|libcrypto)' ||
  fail "/usr/bin/veltrix links a database library"

mkdir -m 777 "$work/reports"
/usr/bin/veltrix --batch --name sample --snapshot examples/office-desktop.json --output-dir "$work/reports"
[ -s "$work/reports/sample.htm" ] || fail "the snapshot replay wrote no report"
# The same report as the build tree's program gives, but for the time it was made.
build/release/veltrix --batch --name sample --snapshot examples/office-desktop.json --output-dir "$work" 2>/dev/null
diff <(grep -v "Veltrix generated" "$work/sample.htm") <(grep -v "Veltrix generated" "$work/reports/sample.htm") >/dev/null ||
  fail "the installed program's report differs from the build's"

# The installed command line becomes the installed store's program.
/usr/bin/veltrix store add --db "$work/reports/fleet.sqlite" examples/office-desktop.json
/usr/bin/veltrix store overview --db "$work/reports/fleet.sqlite" --format csv --output "$work/reports/fleet.csv"
[ "$(wc -l <"$work/reports/fleet.csv")" -eq 2 ] || fail "the store's overview lists no machine: $(cat "$work/reports/fleet.csv")"

# A scan of this machine, names from the id lists of the hwdata dependency.
/usr/bin/veltrix --batch --name live --output-dir "$work/reports" --no-software
[ -s "$work/reports/live.htm" ] || fail "the live scan wrote no report"
# Some PCI device of this machine appears under its name from pci.ids.
pci_name() {
  awk -v vendor="${1#0x}" -v device="${2#0x}" '
    /^[0-9a-f]/ { inside = (substr($0, 1, 6) == vendor "  "); next }
    inside && substr($0, 1, 7) == "\t" device "  " { print substr($0, 8); exit }' /usr/share/hwdata/pci.ids
}
named=""
for device in /sys/bus/pci/devices/*; do
  [ -r "$device/vendor" ] || continue
  name=$(pci_name "$(cat "$device/vendor")" "$(cat "$device/device")")
  if [ -n "$name" ] && grep -qF "$name" "$work/reports/live.htm"; then named=$name; break; fi
done
if ls /sys/bus/pci/devices/* >/dev/null 2>&1; then
  [ -n "$named" ] || fail "no PCI device of this machine is named from /usr/share/hwdata/pci.ids in the live report"
  echo "test_deb: the live report names '$named' from the id lists"
fi

$sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq veltrix >/dev/null
installed=0
[ ! -e /usr/bin/veltrix ] || fail "/usr/bin/veltrix is still there after removal"
echo "test_deb: installed, ran and removed $deb"
