#!/usr/bin/env bash
# The main job: installs what is missing, builds, and writes an inventory of
# this machine into reports/<hostname>.htm.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)"
mkdir -p reports
name=$(hostname | tr -c 'A-Za-z0-9._\n-' '_')
./build/release/veltrix --batch --name "${name:-report}" --output-dir reports "$@"
echo "Report: $(pwd)/reports/${name:-report}.htm"
