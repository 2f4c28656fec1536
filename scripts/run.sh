#!/usr/bin/env bash
# Installs the dependencies, builds the Linux release configuration and runs
# the smoke check: real processes, a host named `snmp` that loads
# libqvsnmp.so as the agent and an application that connects to it, keeps its
# session, raises a trap and falls silent until it is timed out. Then serves
# the demo application through the host and walks it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset linux-release
cmake --build --preset linux-release
ctest --test-dir build/linux-release -R '^AgentProcessTest\.' -E 'Liveness' -j2 --output-on-failure

# The host `snmp` on udp:127.0.0.1:1161 and the demo application qvsnmp-demo
# under 1.3.6.1.4.1.39917.1.1 (PEN 39917, AppId 1, AppInst 1), and walks.
export QVSNMP_NAMESPACE="${QVSNMP_NAMESPACE:-qvsnmp-run}"
export QVSNMP_DRIVE_C="${QVSNMP_DRIVE_C:-$(mktemp -d)}"
build/linux-release/host/snmp --listen udp:127.0.0.1:1161 &
host=$!
# The demo prints its session events; they go to a file beside the agent's.
build/linux-release/apps/demo/qvsnmp-demo --pen 39917 --app-id 1 --app-inst 1 \
    >"$QVSNMP_DRIVE_C/qvsnmp-demo.log" &
demo=$!
trap 'kill "$demo" 2>/dev/null; wait "$demo" 2>/dev/null; kill "$host" 2>/dev/null; wait "$host" 2>/dev/null' EXIT
# The demo connects within a few seconds; its session then shows as up.
up=0
for _ in $(seq 100); do
    status=$(snmpget -v2c -c public -t 1 -r 0 127.0.0.1:1161 1.3.6.1.4.1.44821 2>/dev/null || true)
    if [[ "$status" == *'Up(2) Pen(39917)'* ]]; then
        up=1
        break
    fi
    sleep 0.2
done
if [ "$up" != 1 ]; then
    echo "run.sh: qvsnmp-demo did not come up (see $QVSNMP_DRIVE_C/qvsnmp-demo.log)" >&2
    exit 1
fi
snmpwalk -v2c -c public 127.0.0.1:1161 1.3.6.1.4.1.39917
snmpwalk -v2c -c public 127.0.0.1:1161 1.3.6.1.4.1
