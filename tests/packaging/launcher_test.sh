#!/bin/sh
# The command line never loads Qt, and without arguments it becomes the
# desktop program: the one beside it (reports next to the program), else the
# installed one in ../libexec/veltrix (reports in the home folder); with
# neither it says so and exits 2. The desktop program started without a
# display says so too, rather than abort.
# Usage: launcher_test.sh PATH-TO-VELTRIX [PATH-TO-VELTRIX-DESKTOP]
set -eu
program=$1
desktop=${2:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

if readelf -d "$program" | grep -i 'NEEDED.*libQt'; then fail "$program is linked to Qt"; fi

mkdir -p "$work/usr/bin" "$work/usr/libexec/veltrix" "$work/home"
cp "$program" "$work/usr/bin/veltrix"
# A stand-in for the desktop program: says which one it is and what it got,
# and exits with a code of its own, which reaches the caller only when it
# replaced the command line's process.
fake() {
  printf '#!/bin/sh\necho "%s $# $1"\nexit 7\n' "$1" >"$2"
  chmod +x "$2"
}

code=0
HOME=$work/home "$work/usr/bin/veltrix" >"$work/out" 2>"$work/err" || code=$?
[ "$code" -eq 2 ] || fail "no desktop program: exit $code, expected 2"
grep -q "desktop windows are not installed" "$work/err" || fail "no desktop program: message $(cat "$work/err")"

fake installed "$work/usr/libexec/veltrix/veltrix-desktop"
code=0
HOME=$work/home "$work/usr/bin/veltrix" >"$work/out" 2>"$work/err" || code=$?
[ "$code" -eq 7 ] || fail "installed: exit $code, expected the desktop program's 7"
[ "$(cat "$work/out")" = "installed 1 $work/home" ] || fail "installed: got '$(cat "$work/out")'"

fake beside "$work/usr/bin/veltrix-desktop"
code=0
HOME=$work/home "$work/usr/bin/veltrix" >"$work/out" 2>"$work/err" || code=$?
[ "$code" -eq 7 ] || fail "beside: exit $code"
[ "$(cat "$work/out")" = "beside 1 $work/usr/bin" ] || fail "beside: got '$(cat "$work/out")'"

if [ -n "$desktop" ]; then
  code=0
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$work/home" "$desktop" "$work/home" \
    >"$work/out" 2>"$work/err" || code=$?
  [ "$code" -eq 2 ] || fail "desktop without a display: exit $code, expected 2 ($(cat "$work/err"))"
  grep -q "no display for the desktop windows" "$work/err" || fail "desktop without a display: $(cat "$work/err")"
  [ -z "$(ls "$work/home")" ] || fail "desktop without a display wrote $(ls "$work/home")"
fi
echo "launcher: ok"
