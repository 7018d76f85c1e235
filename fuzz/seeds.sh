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
mkdir -p "$out"/{snapshot_scan,wql,moniker,linux_parsers,sysroot,text_helpers,report_reader,load_export}

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

# Reports for the reader, reports and snapshots for the whole loading path.
n=0
for f in tests/data/*.htm tests/data/windows-real/*.htm; do
  [ -f "$f" ] || continue
  seed report_reader "r$((n++))" "$f"
  seed load_export "r$((n++))" "$f"
done
for f in tests/data/*.json "$realdata"/windows/*.json; do
  [ -f "$f" ] && [ "$(stat -c %s "$f")" -le 65536 ] && seed load_export "s$((n++))" "$f"
done
# Long runs of one character, the inputs whose cost once grew with the
# square of their length: far past the other seeds' size.
run() {  # count character
  head -c "$1" /dev/zero | tr '\0' "$2"
}
page() {  # cell text
  printf '<html><head><title>run.htm</title></head><body><table><tr><td>VELTRIX Result</td></tr></table>'
  printf "<table><tr><td bgcolor='#000000'>Bios</td></tr><tr><td>Name</td><td>%s</td></tr></table></body></html>" "$1"
}
for c in '&' '<' 'a' '#'; do
  page "$(run 1048576 "$c")" >"$out/report_reader/run-$(printf %02x "'$c")"
  cp "$out/report_reader/run-$(printf %02x "'$c")" "$out/load_export/"
done
{
  printf '<html><body><table><tr><td>VELTRIX Result</td></tr></table><table><tr><td bgcolor="#000000">X</td></tr>'
  for _ in $(seq 2000); do printf '<tr><td>Error</td><td>failed</td></tr>'; done
  printf '</table></body></html>'
} >"$out/report_reader/error-rows"
{
  printf '{"veltrix-snapshot": 1, "namespaces": {"root\\\\cimv2": {"Win32_Processor": [{}'
  run 300000 'x' | sed 's/x/,{}/g'
  printf ']}}}'
} >"$out/load_export/empty-objects"

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
