#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when missing.
# Usage: scripts/install-deps.sh [--tests] [--windows]
#        scripts/install-deps.sh --check [--tests] [--windows]
# With --check nothing is installed: every command the scripts and tests of
# those groups call must resolve, else the missing ones are named and the
# exit code is 1. This list is the only place packages are installed from.
set -euo pipefail

# Each group: its packages, then the commands the scripts, CMake and the
# tests call from them (a path where the command is not on PATH).
packages=(g++ cmake make pkg-config nlohmann-json3-dev libcli11-dev hwdata qt6-base-dev)
packages+=(libsqlite3-dev libpq-dev libssl-dev)  # the fleet store
packages+=(libboost-dev zlib1g-dev libcurl4-openssl-dev)  # the fleet server and the agent's upload
commands=(g++ cmake ctest make pkg-config)
check=false
for arg in "$@"; do
  case "$arg" in
    --check) check=true ;;
    --tests)
      packages+=(googletest libgtest-dev libgmock-dev xvfb xauth tzdata)
      commands+=(xvfb-run Xvfb xauth)
      # The fuzzing step: clang with its libFuzzer runtime.
      packages+=(clang libclang-rt-14-dev)
      commands+=(clang++)
      # The store tests start their own PostgreSQL server as an unprivileged user.
      packages+=(postgresql-15 postgresql-client-common)
      commands+=(/usr/lib/postgresql/15/bin/initdb /usr/lib/postgresql/15/bin/pg_ctl setpriv useradd)
      # The fleet server's fault test counts what the store holds, in a database of its own.
      commands+=(/usr/lib/postgresql/15/bin/psql /usr/lib/postgresql/15/bin/createdb)
      # The README's example queries run in both engines' own shells.
      packages+=(sqlite3)
      commands+=(sqlite3 psql git tar)
      # The Debian package: built, checked, installed and removed; its manual page checked.
      packages+=(dpkg-dev file lintian man-db)
      commands+=(dpkg-deb dpkg-shlibdeps file lintian man gzip readelf)
      # The package's systemd units are verified and run (systemd need not be running).
      packages+=(systemd)
      commands+=(systemd-analyze systemctl runuser)
      # The fleet server's tests make their certificates; the console is driven in a real browser.
      packages+=(openssl chromium chromium-driver python3-selenium)
      commands+=(openssl /usr/bin/chromium /usr/bin/chromedriver /usr/bin/python3) ;;
    --windows)
      # wine64 runs the programs (CMake's emulator); wine brings wine,
      # wineboot and wineserver, which the prefix set-up and .ci/windows.sh
      # call. googletest's sources are compiled by the cross compiler; zlib
      # for MinGW compresses the agent's uploads.
      packages+=(g++-mingw-w64-x86-64-posix wine64 wine xvfb xauth googletest libz-mingw-w64-dev)
      commands+=(x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-windres
                 /usr/lib/wine/wine64 wine wineboot wineserver xvfb-run Xvfb xauth
                 /usr/src/googletest/CMakeLists.txt /usr/x86_64-w64-mingw32/include/zlib.h)
      # The MSI: wixl makes it, msibuild and msiinfo (msitools) finish and read it.
      packages+=(wixl msitools)
      commands+=(wixl msibuild msiinfo)
      # The agent's and the MSI's tests under Wine: Python drives them, openssl makes their certificates.
      packages+=(python3 openssl)
      commands+=(/usr/bin/python3 openssl) ;;
    *) echo "install-deps.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

if $check; then
  unresolved=()
  for c in "${commands[@]}"; do
    case "$c" in
      /*) [ -e "$c" ] || unresolved+=("$c") ;;
      *) command -v "$c" >/dev/null || unresolved+=("$c") ;;
    esac
  done
  if [ ${#unresolved[@]} -gt 0 ]; then
    echo "install-deps.sh: not found after the install: ${unresolved[*]}" >&2
    exit 1
  fi
  echo "install-deps.sh: all ${#commands[@]} commands resolve"
  exit 0
fi

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
