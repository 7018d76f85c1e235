#!/bin/sh
# The manual page and the program agree: every option and command the
# program's --help lists is in the page, the page's OPTIONS and COMMANDS
# name nothing the program lacks, and man renders it without a warning.
# Usage: manual_page_test.sh PATH-TO-VELTRIX PATH-TO-PAGE
set -eu
program=$1
page=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

LC_ALL=C.UTF-8 MANWIDTH=200 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" >/dev/null 2>"$work/warnings"
[ ! -s "$work/warnings" ] || fail "man warns: $(cat "$work/warnings")"
LC_ALL=C.UTF-8 MANWIDTH=200 man -E UTF-8 -l "$page" 2>/dev/null | col -bx >"$work/page"

options() { grep -oE -- '--[a-z][a-z0-9-]*' | sort -u; }
# Lines of one top-level section of the rendered page.
section() { awk -v name="$1" '/^[A-Z]/ { inside = ($0 == name) ; next } inside' "$work/page"; }
# The commands a --help output lists (indented names under its SUBCOMMANDS heading).
commands() { awk '/^[A-Za-z]/ { inside = (toupper($0) ~ /^SUBCOMMANDS/) ; next } inside && /^  [a-z]/ { print $1 }'; }
mentioned() { grep -qE -- "(^|[^[:alnum:]-])$1([^[:alnum:]-]|\$)" "$work/page"; }

# Program to page, command by command (nested ones included).
check_help() {
  "$program" "$@" --help >"$work/help" || fail "'veltrix $* --help' failed"
  for option in $(options <"$work/help"); do
    mentioned "$option" || fail "${*:+veltrix $* }$option is not in the manual page"
  done
  for command in $(commands <"$work/help"); do
    grep -qE "veltrix $* ?$command( |\$)" "$work/page" || fail "command '$* $command' is not in the manual page"
    check_help "$@" "$command"
  done
}
check_help
# The commands that become programs of their own have their own --help.
check_help agent
check_help server

# Page to program: the options it lists exist.
"$program" --help | options >"$work/program-options"
for option in $(section OPTIONS | options); do
  grep -qx -- "$option" "$work/program-options" || fail "the manual page lists $option, the program has no such option"
done
# A command's tag line is followed by its text, indented further.
for command in $(section COMMANDS | awk '/^              [^ ]/ && previous ~ /^       [a-z]/ { split(previous, w, " "); print w[1] } { previous = $0 }' | sort -u); do
  # An unknown word before --help gets the program's own help back.
  "$program" --help >"$work/top-help" 2>&1 || true
  "$program" "$command" --help >"$work/command-help" 2>&1 || true
  ! cmp -s "$work/top-help" "$work/command-help" || fail "the manual page lists the command '$command', the program has none"
done
echo "manual page: ok"
