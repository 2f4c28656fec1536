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

# The host `snmp` on udp:127.0.0.1:1161 with an application under
# 1.3.6.1.4.1.39917 (PEN 39917, AppId 1, AppInst 1), and a walk of it.
export QVSNMP_NAMESPACE="${QVSNMP_NAMESPACE:-qvsnmp-run}"
export QVSNMP_DRIVE_C="${QVSNMP_DRIVE_C:-$(mktemp -d)}"
build/linux-release/host/snmp --listen udp:127.0.0.1:1161 &
host=$!
trap 'kill "$host" 2>/dev/null; wait "$host" 2>/dev/null' EXIT
sleep 1
{
    printf '%s\n' map "keepalive 39917 1 1 300"
    sleep 1
    printf '%s\n' "open 0" "var 1.1.1 int 42" "var 1.1.2 str demo application" "serve 0" "up 0"
    sleep 4
    echo quit
} | build/linux-release/tests/agent/qv_test_app >/dev/null &
app=$!
sleep 2
snmpwalk -v2c -c public 127.0.0.1:1161 1.3.6.1.4.1.39917
snmpwalk -v2c -c public 127.0.0.1:1161 1.3.6.1.4.1.44821
wait "$app"
