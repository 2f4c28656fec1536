#!/usr/bin/env bash
# Installs the dependencies, builds the Linux release configuration and runs
# the smoke check: real processes, a host named `snmp` that loads
# libqvsnmp.so as the agent and an application that connects to it, keeps its
# session, raises a trap and falls silent until it is timed out.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset linux-release
cmake --build --preset linux-release
ctest --test-dir build/linux-release -R '^AgentProcessTest\.' -E 'Liveness' -j2 --output-on-failure
