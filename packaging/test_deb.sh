#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian, installs it as a user
# would (apt-get install ./veltrix_<version>_amd64.deb), runs the installed
# program (--version, a snapshot replay, a scan of this machine), runs the
# fleet server's and the agent's units (under systemd where it runs), and
# purges the package again. Run from anywhere; needs root or sudo.
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
lintian --fail-on error,warning "build/release/$deb"

# apt-get reads the file as its own unprivileged user: give it a folder it may enter.
work=$(mktemp -d)
chmod 755 "$work"
cp "build/release/$deb" "$work/"
chmod 644 "$work/$deb"
installed=0
server_pid=""
certificate_made=0
cleanup() {
  if [ -n "$server_pid" ]; then $sudo_cmd kill -TERM "$server_pid" 2>/dev/null || true; fi
  if [ "$installed" -eq 1 ]; then
    $sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq veltrix >/dev/null 2>&1 || true
  fi
  if [ "$certificate_made" -eq 1 ]; then
    $sudo_cmd rm -f /etc/veltrix/server.crt /etc/veltrix/server.key
    $sudo_cmd rmdir /etc/veltrix 2>/dev/null || true
  fi
  $sudo_cmd rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "test_deb: $*" >&2; exit 1; }

# The test enrols this machine's agent and makes the user veltrix; it does
# not take over a machine that has them already.
for path in /var/lib/veltrix /var/lib/veltrix-server /etc/veltrix; do
  [ ! -e "$path" ] || fail "$path exists: this test installs and purges the package's fleet parts, run it elsewhere"
done
[ -z "$(find /etc/systemd -name 'veltrix-*' 2>/dev/null)" ] || fail "veltrix units are enabled here already"
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

# The fleet as the package deploys it: the server's and the agent's units,
# run by systemd where it runs this machine, else by their own ExecStart
# lines as the units would run them.
units="veltrix-server.service veltrix-agent.service veltrix-agent.timer"
for unit in $units; do
  [ -f "/lib/systemd/system/$unit" ] || fail "$unit is not installed"
  [ "$(systemctl is-enabled "$unit" 2>/dev/null || true)" != enabled ] || fail "$unit is enabled by the install"
done
(cd /lib/systemd/system && systemd-analyze verify $units) >"$work/verify" 2>&1 ||
  fail "systemd-analyze verify: $(cat "$work/verify")"
! grep -i veltrix "$work/verify" || fail "systemd-analyze verify warns about our units"
for unit in veltrix-server.service veltrix-agent.service; do
  echo "test_deb: $unit exposure: $(systemd-analyze security --offline=true "/lib/systemd/system/$unit" 2>/dev/null |
    sed -n 's/.*Overall exposure level for [^:]*: //p')"
done
getent passwd veltrix | grep -q ':/usr/sbin/nologin$' || fail "no system user veltrix: $(getent passwd veltrix || true)"
[ "$(stat -c '%U:%G %a' /var/lib/veltrix-server)" = "veltrix:veltrix 750" ] ||
  fail "/var/lib/veltrix-server is $(stat -c '%U:%G %a' /var/lib/veltrix-server)"
dpkg-query -W -f='${Conffiles}\n' veltrix | grep -q '/etc/veltrix/server.conf' || fail "server.conf is no conffile"

systemd_runs=false
[ -d /run/systemd/system ] && systemd_runs=true
# A unit's setting (the last one given), as the installed unit file has it.
unit_value() { sed -n "s/^$2=//p" "/lib/systemd/system/$1" | tail -n 1; }
# The unit's ExecStart run as systemd would: its user, a clean environment,
# its umask, its capability bounding set, no new privileges, from /. It
# becomes the unit's program: call it in the background or in a subshell.
run_as_unit() {
  local unit=$1 user group caps bounding=-all
  user=$(unit_value "$unit" User); group=$(unit_value "$unit" Group)
  caps=$(unit_value "$unit" CapabilityBoundingSet)
  for cap in $caps; do cap=${cap#CAP_}; bounding="$bounding,+$(echo "$cap" | tr 'A-Z' 'a-z')"; done
  local ids=()
  [ -z "$user" ] || ids=(--reuid "$user" --regid "${group:-$user}" --init-groups)
  cd /
  umask "$(unit_value "$unit" UMask)"
  exec $sudo_cmd env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
    setpriv "${ids[@]}" --bounding-set "$bounding" --no-new-privs $(unit_value "$unit" ExecStart)
}

# The administrator's steps of the README: a certificate, the address, a secret.
certificate_made=1
port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
$sudo_cmd openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost \
  -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" \
  -keyout /etc/veltrix/server.key -out /etc/veltrix/server.crt 2>/dev/null
$sudo_cmd chown root:veltrix /etc/veltrix/server.key
$sudo_cmd chmod 640 /etc/veltrix/server.key
$sudo_cmd sed -i "s|^listen = .*|listen = \"127.0.0.1:$port\"|" /etc/veltrix/server.conf
secret=$($sudo_cmd runuser -u veltrix -- veltrix server secret create --config /etc/veltrix/server.conf --note test)

if $systemd_runs; then
  $sudo_cmd systemctl start veltrix-server.service
else
  run_as_unit veltrix-server.service 2>"$work/server.log" &
  server_pid=$!
fi
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
(exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || fail "the server does not listen: $(cat "$work/server.log" 2>/dev/null)"

# Enrolled elsewhere, the system's timer is left alone; into the default
# state folder, it is enabled.
printf '%s\n' "$secret" >"$work/secret"
$sudo_cmd veltrix agent enrol --server "https://localhost:$port" --secret-file "$work/secret" \
  --ca-file /etc/veltrix/server.crt --state-dir "$work/elsewhere" >"$work/enrol" || fail "enrol --state-dir: exit $?"
[ "$(systemctl is-enabled veltrix-agent.timer 2>/dev/null || true)" != enabled ] ||
  fail "an enrolment outside the default state folder enabled the timer"
$sudo_cmd veltrix agent enrol --server "https://localhost:$port" --secret-file "$work/secret" \
  --ca-file /etc/veltrix/server.crt >"$work/enrol" || fail "enrol: exit $? ($(cat "$work/enrol"))"
grep -q "veltrix-agent.timer enabled" "$work/enrol" || fail "enrol did not enable the timer: $(cat "$work/enrol")"
[ "$(systemctl is-enabled veltrix-agent.timer)" = enabled ] || fail "the timer is not enabled after enrol"

# The agent's service once, then its scan in the server's store.
if $systemd_runs; then
  $sudo_cmd systemctl start veltrix-agent.service || fail "veltrix-agent.service failed"
else
  (run_as_unit veltrix-agent.service) >"$work/agent.log" 2>&1 || fail "the agent's ExecStart: exit $? ($(cat "$work/agent.log"))"
  grep -q "1 stored" "$work/agent.log" || fail "the agent stored no scan: $(cat "$work/agent.log")"
fi
$sudo_cmd runuser -u veltrix -- veltrix server hosts --config /etc/veltrix/server.conf >"$work/hosts"
grep -qE ' 1 +active ' "$work/hosts" || fail "no host with an upload: $(cat "$work/hosts")"
$sudo_cmd runuser -u veltrix -- veltrix store overview --db /var/lib/veltrix-server/fleet.sqlite --format csv \
  --output - >"$work/fleet.csv"
[ "$(wc -l <"$work/fleet.csv")" -eq 2 ] || fail "the store holds no scan of this machine: $(cat "$work/fleet.csv")"
echo "test_deb: the agent's service delivered this machine's scan to the server's service" \
  "($($systemd_runs && echo "under systemd" || echo "by their ExecStart lines, systemd not running"))"

if $systemd_runs; then
  $sudo_cmd systemctl stop veltrix-server.service
else
  $sudo_cmd kill -TERM "$server_pid"
  wait "$server_pid" || fail "the server's exit after SIGTERM: $?"
  server_pid=""
fi

$sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq veltrix >"$work/purge" 2>&1
installed=0
[ ! -e /usr/bin/veltrix ] || fail "/usr/bin/veltrix is still there after removal"
# Purge leaves no unit, enablement, user, settings or state; only what the
# administrator put into /etc/veltrix, which it names.
for unit in $units; do [ ! -e "/lib/systemd/system/$unit" ] || fail "$unit is still there after the purge"; done
leftover=$(find /etc/systemd /var/lib/systemd -name '*veltrix*' 2>/dev/null)
[ -z "$leftover" ] || fail "left behind by the purge: $leftover"
! getent passwd veltrix >/dev/null || fail "the user veltrix is still there after the purge"
! getent group veltrix >/dev/null || fail "the group veltrix is still there after the purge"
for path in /var/lib/veltrix-server /var/lib/veltrix /etc/veltrix/server.conf; do
  [ ! -e "$path" ] || fail "$path is still there after the purge"
done
[ "$(ls -A /etc/veltrix | tr '\n' ' ')" = "server.crt server.key " ] ||
  fail "/etc/veltrix holds after the purge: $(ls -A /etc/veltrix)"
grep -q "server.crt server.key" "$work/purge" || fail "the purge does not name what it left: $(cat "$work/purge")"
$sudo_cmd rm /etc/veltrix/server.crt /etc/veltrix/server.key
$sudo_cmd rmdir /etc/veltrix
certificate_made=0
echo "test_deb: installed, ran and removed $deb"
