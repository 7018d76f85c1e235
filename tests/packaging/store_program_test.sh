#!/bin/sh
# Only the store's program links the databases; `veltrix store ...` becomes
# it, beside the command line or installed in ../libexec/veltrix, with the
# arguments after "store" unchanged and its exit code handed back; with
# neither it says so and exits 2. The real pair loads and lists a snapshot.
# Usage: store_program_test.sh PATH-TO-VELTRIX PATH-TO-VELTRIX-STORE SNAPSHOT
set -eu
program=$1
store=$2
snapshot=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

database_libraries='NEEDED.*(libsqlite3|libpq|libssl|libcrypto)'
if readelf -d "$program" | grep -E "$database_libraries"; then fail "$program is linked to a database library"; fi
readelf -d "$store" | grep -qE 'NEEDED.*libsqlite3' || fail "$store does not link SQLite"
readelf -d "$store" | grep -qE 'NEEDED.*libpq' || fail "$store does not link libpq"

mkdir -p "$work/usr/bin" "$work/usr/libexec/veltrix"
cp "$program" "$work/usr/bin/veltrix"

code=0
"$work/usr/bin/veltrix" store overview --output "$work/o.htm" >"$work/out" 2>"$work/err" || code=$?
[ "$code" -eq 2 ] || fail "no store program: exit $code, expected 2"
grep -q "fleet store is not installed" "$work/err" || fail "no store program: message $(cat "$work/err")"

# A stand-in: names itself, counts and echoes its arguments one a line, and
# exits with a code of its own.
fake() {
  printf '#!/bin/sh\necho "%s $#"\nfor a in "$@"; do echo "[$a]"; done\nexit 7\n' "$1" >"$2"
  chmod +x "$2"
}
fake installed "$work/usr/libexec/veltrix/veltrix-store"
code=0
"$work/usr/bin/veltrix" store add --db "$work/a b.sqlite" "x.json" >"$work/out" 2>"$work/err" || code=$?
[ "$code" -eq 7 ] || fail "installed: exit $code, expected the store program's 7"
printf 'installed 4\n[add]\n[--db]\n[%s]\n[x.json]\n' "$work/a b.sqlite" >"$work/expected"
cmp -s "$work/out" "$work/expected" || fail "installed: got '$(cat "$work/out")'"

fake beside "$work/usr/bin/veltrix-store"
code=0
"$work/usr/bin/veltrix" store >"$work/out" 2>"$work/err" || code=$?
[ "$code" -eq 7 ] || fail "beside: exit $code"
[ "$(cat "$work/out")" = "beside 0" ] || fail "beside: got '$(cat "$work/out")'"

# The real program beside the real command line.
cp "$store" "$work/usr/bin/veltrix-store"
veltrix="$work/usr/bin/veltrix"
"$veltrix" store add --db "$work/fleet.sqlite" "$snapshot" >"$work/out" 2>"$work/err" ||
  fail "store add: exit $? ($(cat "$work/err"))"
"$veltrix" store overview --db "$work/fleet.sqlite" --format csv --output "$work/fleet.csv" 2>"$work/err" ||
  fail "store overview: exit $? ($(cat "$work/err"))"
[ "$(wc -l <"$work/fleet.csv")" -eq 2 ] || fail "overview: expected a heading and one machine, got $(cat "$work/fleet.csv")"
"$veltrix" store --help >"$work/out" || fail "store --help: exit $?"
grep -q "veltrix store" "$work/out" || fail "store --help: $(cat "$work/out")"
code=0
"$veltrix" store remove >"$work/out" 2>"$work/err" || code=$?
[ "$code" -eq 2 ] || fail "unknown store command: exit $code, expected 2"
echo "store program: ok"
