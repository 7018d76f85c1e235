#!/usr/bin/env bash
# Gathers seed inputs for every harness from the project's test data, the
# examples and the real-machine captures next to the project, into
# OUT/<harness>/. Seeds are rebuilt on every run and never committed.
# Usage: fuzz/seeds.sh PACK-TREE-PROGRAM OUT
set -euo pipefail
cd "$(dirname "$0")/.."
pack=$1
out=$2
realdata=${VELTRIX_REALDATA:-../shared/realdata}
[ -d "$realdata" ] || realdata=/nonexistent
rm -rf "$out"
mkdir -p "$out"/{snapshot_scan,wql,moniker,linux_parsers,sysroot,text_helpers}

# Whole files, at most 64 KiB each: larger seeds only slow the mutations down.
seed() {  # harness name source-file [selector-byte]
  local file="$out/$1/$2"
  if [ $# -gt 3 ]; then printf "\\x$4" >"$file"; else : >"$file"; fi
  head -c 65536 "$3" >>"$file"
}

n=0
for f in tests/data/*.json examples/*.json "$realdata"/windows/*.json; do
  [ -f "$f" ] || continue
  # A snapshot cut short is only a parse error: larger ones are left out.
  [ "$(stat -c %s "$f")" -le 65536 ] && seed snapshot_scan "s$((n++))" "$f"
  seed text_helpers "s$((n++))" "$f"
done
for f in tests/data/*.htm; do
  [ -f "$f" ] || continue
  seed text_helpers "h$((n++))" "$f"
done

# The program's own queries and connection texts, one per file.
n=0
grep -rhoE '"[Ss][Ee][Ll][Ee][Cc][Tt] [^"]*"' src tests | sort -u | while IFS= read -r q; do
  q=${q#\"}; printf '%s' "${q%\"}" >"$out/wql/q$((n++))"
done
grep -rhoE '"winmgmts:[^"]*"' src tests | sort -u | while IFS= read -r m; do
  m=${m#\"}; m=${m%\"}; printf '%s' "${m//\\\\/\\}" >"$out/moniker/m$((n++))"
done

# Reader inputs, each behind the byte that picks its reader.
n=0
trees=(tests/data/linux/*/ tests/data/linux-real/*/ "$realdata"/linux/*/)
for tree in "${trees[@]}"; do
  [ -d "$tree" ] || continue
  for pair in 00:var/lib/dpkg/status 01:var/log/apt/history.log 02:sys/firmware/dmi/tables/DMI \
              05:proc/cpuinfo 06:etc/os-release; do
    f=$tree/${pair#*:}
    [ -f "$f" ] && seed linux_parsers "p$((n++))" "$f" "${pair%%:*}"
  done
  for f in "$tree"run/udev/data/*; do
    [ -f "$f" ] && seed linux_parsers "p$((n++))" "$f" 04
  done
  # The whole tree, cut at 64 KiB.
  "$pack" "$tree" "$out/sysroot/$(basename "$tree")" 65536
done
for f in tests/data/linux/ids/* /usr/share/misc/pci.ids; do
  [ -f "$f" ] && seed linux_parsers "p$((n++))" "$f" 03
done
exit 0
