#!/bin/sh
# Makes a Wine prefix for the Windows tests once: `wine_prefix.sh FOLDER`.
# A prefix that is already complete is kept, so repeated test runs are quick.
set -eu
prefix=$1
if [ -f "$prefix/system.reg" ] && [ -f "$prefix/.veltrix-ready" ]; then
  exit 0
fi
mkdir -p "$prefix"
export WINEPREFIX="$prefix" WINEDEBUG=-all
# No Mono or Gecko download prompts: the tests need neither.
export WINEDLLOVERRIDES="mscoree=;mshtml="
wineboot -i
wineserver -w
touch "$prefix/.veltrix-ready"
