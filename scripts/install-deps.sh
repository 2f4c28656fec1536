#!/usr/bin/env bash
# Installs everything the build and the tests need on Debian 12.
set -euo pipefail

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi

PACKAGES=(
    cmake ninja-build g++ pkg-config
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
    clang-14 libclang-rt-14-dev
    libsnmp-dev snmp snmpd snmptrapd
    python3 python3-matplotlib
    wine64
)

missing=()
for package in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ "${#missing[@]}" -gt 0 ]; then
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
