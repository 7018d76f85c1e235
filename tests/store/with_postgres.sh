#!/usr/bin/env bash
# Starts a private PostgreSQL 15 server for the store tests, runs a command
# with VELTRIX_TEST_PG_URL pointing at it, and stops the server whatever
# happens. The server runs as an unprivileged user (a dedicated system user
# when we are root), listens only on a socket in a private folder, and takes
# password logins, so the tests can check a wrong password too.
# Usage: tests/store/with_postgres.sh [COMMAND...]   (default: the store tests of the dev build)
set -euo pipefail
cd "$(dirname "$0")/../.."

bin=/usr/lib/postgresql/15/bin
[ -x "$bin/initdb" ] || { echo "with_postgres.sh: $bin/initdb is missing: install postgresql" >&2; exit 2; }

if [ "$(id -u)" -eq 0 ]; then
  pg_user=veltrix-pg
  id "$pg_user" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$pg_user"
  as_pg() { (cd / && setpriv --reuid="$pg_user" --regid="$pg_user" --init-groups -- "$@"); }
else
  pg_user=$(id -un)
  as_pg() { (cd / && "$@"); }
fi

work=$(mktemp -d /tmp/veltrix-pg.XXXXXX)
chmod 755 "$work"
mkdir -m 700 "$work/data" "$work/socket" "$work/log"
chown "$pg_user" "$work/data" "$work/socket" "$work/log"
password=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')
printf '%s\n' "$password" >"$work/password"
chown "$pg_user" "$work/password"

stop() {
  as_pg "$bin/pg_ctl" -D "$work/data" -m immediate stop >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap stop EXIT INT TERM

as_pg "$bin/initdb" -D "$work/data" -U veltrix --pwfile="$work/password" --auth=scram-sha-256 \
  -E UTF8 --locale=C.UTF-8 >"$work/initdb.log" 2>&1 || { cat "$work/initdb.log" >&2; exit 1; }
port=5432
as_pg "$bin/pg_ctl" -D "$work/data" -l "$work/log/server.log" -w -t 60 \
  -o "-k $work/socket -c listen_addresses= -p $port -c max_connections=60" start >/dev/null \
  || { cat "$work/log/server.log" >&2; exit 1; }

export VELTRIX_TEST_PG_URL="postgresql://veltrix:$password@/postgres?host=$work/socket&port=$port"
if [ $# -eq 0 ]; then
  set -- ctest --preset dev -R '^Store'
fi
"$@"
