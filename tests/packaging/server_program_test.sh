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
echo "server program: ok"
