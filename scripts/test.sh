#!/usr/bin/env bash
# Installs the dependencies, builds every configuration CI checks and runs the
# whole test suite. This is what CI runs.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

# QVSNMP.dll for Windows x64, and the checks of its export table.
cmake --preset windows-cross
cmake --build --preset windows-cross
ctest --preset windows-cross

# The Linux build and its test suite.
cmake --preset linux-debug
cmake --build --preset linux-debug
ctest --preset linux-debug
