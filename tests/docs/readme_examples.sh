#!/usr/bin/env bash
# The examples of the README and of the manual page run as written, from a
# fresh copy of the tree, against the built program.
#
# Which examples run is marked in the documents themselves, so that a new
# section opts in by marking its blocks:
#   README.md          the line before a fenced block is
#                        <!-- example -->             shell commands
#                        <!-- example postgresql -->  shell commands, run only when VELTRIX_TEST_PG_URL is set
#                        <!-- example sql -->         a query: sqlite3 on the default store, and psql on
#                                                     VELTRIX_TEST_PG_URL when it is set
#   packaging/veltrix.1  the line before an .RS/.EX block is  .\" example
# The blocks of each document run one after the other in one folder, so a
# later block may use what an earlier one wrote; each must exit 0.
#
# `veltrix` is the built program; `sudo` runs its command as it is (the
# examples that scan this computer as root still scan it), and `xdg-open`
# opens nothing. The manual page names the installed sample snapshot, which
# in a checkout is examples/.
#
# Usage: readme_examples.sh PATH-TO-VELTRIX SOURCE-DIR
set -euo pipefail
program=$(realpath "$1")
source_dir=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# A fresh copy: the files the repository holds, nothing a build or a test left.
fresh_copy() {
  local target=$1
  mkdir -p "$target"
  if git -C "$source_dir" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    (cd "$source_dir" && git ls-files -z --cached --others --exclude-standard |
      while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
      tar --null -T - -cf -) | tar -xf - -C "$target"
  else
    (cd "$source_dir" && tar --exclude=./build --exclude=./.git -cf - .) | tar -xf - -C "$target"
  fi
}

bin="$work/bin"
mkdir -p "$bin"
ln -s "$program" "$bin/veltrix"
printf '#!/bin/sh\nexec "$@"\n' >"$bin/sudo"
printf '#!/bin/sh\necho "$@" >>"%s/opened"\n' "$work" >"$bin/xdg-open"
chmod +x "$bin/sudo" "$bin/xdg-open"
export PATH="$bin:$PATH"

# README blocks: one file per block, named NNN.KIND.
extract_readme() {
  awk -v out="$1" '
    marker && /^```/ { inside = 1; marker = 0; n++; file = sprintf("%s/%03d.%s", out, n, kind); printf "" >file; next }
    inside && /^```/ { inside = 0; close(file); next }
    inside { print >>file; next }
    /^<!-- example( [a-z]+)? -->$/ { marker = 1; kind = ($3 == "-->") ? "sh" : $3; next }
    { marker = 0 }
  ' "$2"
}

# Manual page blocks: the .EX ... .EE after a marker, the roff escapes of
# the examples undone.
extract_manual() {
  awk -v out="$1" '
    /^\.\\" example$/ { marker = 1; next }
    marker && /^\.EX$/ { inside = 1; marker = 0; n++; file = sprintf("%s/%03d.sh", out, n); printf "" >file; next }
    inside && /^\.EE$/ { inside = 0; close(file); next }
    inside {
      line = $0
      gsub(/\\-/, "-", line); gsub(/\\e/, "\\", line); gsub(/\\\(dq/, "\"", line)
      gsub(/\/usr\/share\/doc\/veltrix\/examples\//, "examples/", line)
      print line >>file; next
    }
    marker && !/^\.(RS|PP)$/ { marker = 0 }
  ' "$2"
}

ran=0
skipped=0
run_blocks() {
  local name=$1 tree=$2 blocks=$3
  local block kind
  for block in "$blocks"/*; do
    [ -e "$block" ] || continue
    kind=${block##*.}
    case "$kind" in
      sh)
        (cd "$tree" && bash -euo pipefail "$block") >"$work/out" 2>&1 ||
          fail "$name: this example failed:
$(cat "$block")
--- its output:
$(cat "$work/out")"
        ;;
      postgresql)
        if [ -z "${VELTRIX_TEST_PG_URL:-}" ]; then skipped=$((skipped + 1)); continue; fi
        (cd "$tree" && bash -euo pipefail "$block") >"$work/out" 2>&1 ||
          fail "$name: this PostgreSQL example failed:
$(cat "$block")
--- its output:
$(cat "$work/out")"
        ;;
      sql)
        (cd "$tree" && sqlite3 -bail -header -column veltrix-inventory.sqlite <"$block") >"$work/out" 2>&1 ||
          fail "$name: this query failed in sqlite3: $(cat "$work/out")"
        [ -s "$work/out" ] || fail "$name: this query gives no rows in sqlite3:
$(cat "$block")"
        if [ -n "${VELTRIX_TEST_PG_URL:-}" ]; then
          (cd "$tree" && psql -q -v ON_ERROR_STOP=1 "$VELTRIX_TEST_PG_URL" -f "$block") >"$work/out" 2>&1 ||
            fail "$name: this query failed in psql: $(cat "$work/out")"
        fi
        ;;
      *) fail "$name: unknown kind of example '$kind'" ;;
    esac
    ran=$((ran + 1))
  done
}

for document in README.md packaging/veltrix.1; do
  tree="$work/tree-${document##*/}"
  blocks="$work/blocks-${document##*/}"
  mkdir -p "$blocks"
  fresh_copy "$tree"
  case "$document" in
    *.md) extract_readme "$blocks" "$tree/$document" ;;
    *) extract_manual "$blocks" "$tree/$document" ;;
  esac
  count=$(find "$blocks" -type f | wc -l)
  [ "$count" -gt 0 ] || fail "$document marks no example"
  run_blocks "$document" "$tree" "$blocks"
done

# The examples with --open asked for a viewer, and got one.
[ -s "$work/opened" ] || fail "no example opened anything, though some use --open"
if [ "$skipped" -gt 0 ]; then
  echo "readme examples: $ran blocks ran, $skipped left out: no PostgreSQL server (VELTRIX_TEST_PG_URL is not set)"
else
  echo "readme examples: $ran blocks ran"
fi
