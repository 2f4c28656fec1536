#!/usr/bin/env bash
# Installs the dependencies, builds the Linux release configuration and runs
# the smoke check: a process named `snmp` loads libqvsnmp.so as the agent and
# an application process connects to it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset linux-release
cmake --build --preset linux-release
exec build/linux-release/tools/smoke/qvsnmp-smoke
