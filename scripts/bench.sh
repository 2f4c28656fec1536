#!/usr/bin/env bash
# The end-to-end benchmark: builds the Release configuration and runs every
# benchmark on this machine (loopback only), printing one Markdown table and
# writing it, the raw figures and a latency histogram under results/.
#
#   scripts/bench.sh            full run, about five minutes
#   scripts/bench.sh --quick    tiny counts: checks that everything runs
#
# Take figures on a quiet machine: the table's header records the load.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=()
for argument in "$@"; do
    case "$argument" in
        --quick) quick=(--quick) ;;
        *) echo "usage: scripts/bench.sh [--quick]" >&2; exit 2 ;;
    esac
done

cmake --preset linux-release >/dev/null
cmake --build --preset linux-release -j2 --target qvsnmp_e2e_bench
exec /usr/bin/python3 bench/run_bench.py --build build/linux-release --out results "${quick[@]}"
