#!/bin/sh
# Installs what building, running and testing the connector needs on Debian 12 (as root).
#   scripts/install-deps.sh            the Linux builds and tests
#   scripts/install-deps.sh windows    the Windows lane: MinGW-w64 (posix threads), the host Qt tools the
#                                      cross build runs, wixl and msitools for the MSI package, Wine with
#                                      its 32-bit half for Inno Setup's compiler (where the host runs it)
set -eu

packages="build-essential cmake ninja-build pkg-config
  qtbase5-dev libqt5websockets5-dev libqt5sql5-sqlite libqt5sql5-odbc
  qt6-base-dev qt6-websockets-dev libqt6sql6-sqlite libqt6sql6-odbc
  clang libclang-rt-14-dev clang-format g++-mingw-w64-x86-64
  7zip sqlite3 openssl ca-certificates python3 iproute2 util-linux procps
  xvfb xauth x11-utils xdotool chromium firefox-esr"
if [ "${1:-}" = windows ]; then
    packages="cmake ninja-build g++-mingw-w64-x86-64-posix qt6-base-dev qt6-base-dev-tools zstd python3 7zip sqlite3
      iproute2 util-linux xvfb xauth wixl msitools wine wine64 wine32:i386"
    # Inno Setup's compiler is a 32-bit Windows program; the lane uses Wine's 32-bit half only where the
    # host executes 32-bit programs, and everything else with the 64-bit loader.
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
fi
if ! command -v node >/dev/null 2>&1; then
    packages="$packages nodejs npm"
fi

missing=""
for package in $packages; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing="$missing $package"
done
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # shellcheck disable=SC2086
    apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
