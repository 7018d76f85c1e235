#!/usr/bin/env bash
# Checks that a report written by a batch scan is well formed:
#   check_report.sh REPORT [REQUIRED_SECTION ...]
# the page head and foot are there, every section table is closed, each
# required section is present, and it lists the sections and their "Error"
# rows. Exit 1 with a reason when something is wrong.
set -euo pipefail
report=$1
shift
fail() { echo "check_report: $report: $*" >&2; exit 1; }

[ -s "$report" ] || fail "missing or empty"
head -c 14 "$report" | cmp -s - <(printf '<html><head>\r\n') || fail "does not begin with the page head"
tail -c 16 "$report" | cmp -s - <(printf '</body></html>\r\n') || fail "does not end with the page foot"
grep -q $'<title>.*\.htm</title>\r$' "$report" || fail "no title line"
grep -q 'Designation: ' "$report" || fail "no designation line"
if LC_ALL=C grep -qv $'\r$' "$report"; then fail "a line does not end with CR LF"; fi

titles=$(LC_ALL=C grep -o "<strong>&nbsp;[^<]*</strong></td></tr>" "$report" |
         sed -e 's/<strong>&nbsp;//' -e 's/<\/strong><\/td><\/tr>//')
heads=$(printf '%s\n' "$titles" | grep -c . || true)
# Every section table closes with its foot; the page's own layout table
# closes with the page foot.
feet=$(LC_ALL=C grep -c $'^</table><br>\r$' "$report" || true)
[ "$heads" -ge 1 ] || fail "no section at all"
[ "$heads" -eq "$feet" ] || fail "$heads section heads but $feet section feet"

for wanted in "$@"; do
  printf '%s\n' "$titles" | grep -qxF "$wanted" || fail "no section \"$wanted\""
done

echo "report $report: $heads sections, well formed"
# Each section with the error rows it holds.
LC_ALL=C awk '
  /<strong>&nbsp;/ { sub(/.*<strong>&nbsp;/, ""); sub(/<\/strong>.*/, ""); section = $0; next }
  /class=.td1.>Error<\/td>/ { line = $0; sub(/.*class=.td1.>Error<\/td><td[^>]*>/, "", line);
                              sub(/<\/td><\/tr>.*/, "", line); printf "  Error in %s: %s\n", section, line }
' "$report"
