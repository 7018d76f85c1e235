#!/bin/sh
# Only the server's program links TLS and the databases; `veltrix server ...`
# becomes it, beside the command line, with its arguments and exit code;
# without it the command line says so and exits 2.
# Usage: server_program_test.sh PATH-TO-VELTRIX PATH-TO-VELTRIX-SERVER
set -eu
program=$1
server=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

if readelf -d "$program" | grep -E 'NEEDED.*(libssl|libcrypto|libpq|libsqlite3|libz\.)'; then
  fail "$program is linked to a library of the server"
fi
readelf -d "$server" | grep -qE 'NEEDED.*libssl' || fail "$server does not link OpenSSL"

mkdir -p "$work/bin"
cp "$program" "$work/bin/veltrix"
code=0
"$work/bin/veltrix" server hosts >"$work/out" 2>"$work/err" || code=$?
[ "$code" -eq 2 ] || fail "no server program: exit $code, expected 2"
grep -q "fleet server is not installed" "$work/err" || fail "no server program: $(cat "$work/err")"

cp "$server" "$work/bin/veltrix-server"
"$work/bin/veltrix" server secret create --db "$work/fleet.sqlite" --note "one" >"$work/out" 2>"$work/err" ||
  fail "secret create: exit $? ($(cat "$work/err"))"
grep -qE '^[0-9a-f]{64}$' "$work/out" || fail "secret create printed '$(cat "$work/out")'"
"$work/bin/veltrix" server secret list --db "$work/fleet.sqlite" >"$work/out" || fail "secret list: exit $?"
grep -q "active  0      one" "$work/out" || fail "secret list: $(cat "$work/out")"
code=0
"$work/bin/veltrix" server secret revoke --db "$work/fleet.sqlite" 7 >"$work/out" 2>"$work/err" || code=$?
[ "$code" -eq 2 ] || fail "revoking a missing secret: exit $code, expected 2"
code=0
"$work/bin/veltrix" server run --db "$work/fleet.sqlite" --listen 127.0.0.1:1 >"$work/out" 2>"$work/err" || code=$?
[ "$code" -eq 2 ] || fail "run without TLS or --insecure-http: exit $code, expected 2"
# A settings file gives what the command line leaves out; the command line wins.
cat >"$work/server.conf" <<EOF
# as the service has it
db = "$work/from-file.sqlite"
listen = 127.0.0.1:0
insecure-http = true
workers = 2
EOF
"$work/bin/veltrix" server secret create --config "$work/server.conf" >"$work/out" 2>"$work/err" ||
  fail "secret create --config: exit $? ($(cat "$work/err"))"
"$work/bin/veltrix" server secret list --config "$work/server.conf" | grep -q "active" ||
  fail "the secret is not in the settings file's store"
"$work/bin/veltrix" server secret list --config "$work/server.conf" --db "$work/fleet.sqlite" | grep -q "one" ||
  fail "--db on the command line did not win over the settings file"
"$work/bin/veltrix" server run --config "$work/server.conf" 2>"$work/run-err" &
server_pid=$!
for _ in $(seq 50); do grep -q "serving http://127.0.0.1:" "$work/run-err" && break; sleep 0.1; done
grep -q "serving http://127.0.0.1:[0-9]* into $work/from-file.sqlite" "$work/run-err" ||
  { kill "$server_pid"; fail "run --config: $(cat "$work/run-err")"; }
kill -TERM "$server_pid"
wait "$server_pid" || fail "run --config: exit $? after SIGTERM"
# Refused settings: a misspelt name, a section, a name twice, a bad value; nothing is stored.
for bad in 'tls_cert = x' '[run]' 'workers = 2
workers = 3' 'workers = 999'; do
  printf 'db = "%s/refused.sqlite"\n%s\n' "$work" "$bad" >"$work/bad.conf"
  code=0
  "$work/bin/veltrix" server run --config "$work/bad.conf" >"$work/out" 2>"$work/err" || code=$?
  [ "$code" -eq 2 ] || fail "settings '$bad': exit $code, expected 2"
  grep -q -- "--config $work/bad.conf" "$work/err" || fail "settings '$bad': $(cat "$work/err")"
  [ ! -e "$work/refused.sqlite" ] || fail "settings '$bad': a store was made"
done
echo "server program: ok"
