#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when missing.
# Usage: scripts/install-deps.sh [--tests] [--windows]
set -euo pipefail

packages=(g++ cmake make pkg-config nlohmann-json3-dev libcli11-dev hwdata qt6-base-dev)
packages+=(libsqlite3-dev libpq-dev libssl-dev)  # the fleet store
for arg in "$@"; do
  case "$arg" in
    --tests) packages+=(googletest libgtest-dev libgmock-dev xvfb xauth clang libclang-rt-14-dev postgresql dpkg-dev file lintian man-db) ;;
    --windows) packages+=(g++-mingw-w64-x86-64-posix wine64 xvfb xauth googletest) ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  echo "Installing: ${missing[*]}"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
