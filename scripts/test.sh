#!/usr/bin/env bash
# Installs the dependencies, builds every configuration CI checks and runs the
# whole test suite. This is what CI runs.
set -euo pipefail
cd "$(dirname "$0")/.."

# Runs a sanitizer preset's tests. The preset sends every ASan, LSan and TSan
# report, from the test programs and from the processes they start, to files
# under build/PRESET/sanitizer-reports: a child's report would otherwise be
# lost whenever its test does not read the child's stderr. Any file there
# fails the stage. (UBSan aborts the process at its first report.)
sanitized_ctest() {
    local preset=$1 reports=build/$1/sanitizer-reports
    rm -rf "$reports"
    mkdir -p "$reports"
    local status=0
    ctest --preset "$preset" || status=$?
    if [ -n "$(ls -A "$reports")" ]; then
        echo "sanitizer reports in $reports:" >&2
        head -n 60 "$reports"/* >&2
        status=1
    fi
    return "$status"
}

scripts/install-deps.sh

# QVSNMP.dll for Windows x64: its export and import tables, and the Windows
# test programs run under wine (in a prefix under build/windows-cross).
cmake --preset windows-cross
cmake --build --preset windows-cross
ctest --preset windows-cross

# The Linux build and its test suite.
cmake --preset linux-debug
cmake --build --preset linux-debug
ctest --preset linux-debug

# The whole suite again under AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer: hosts in the tests free every binding as the SNMP
# service does, so a leak on the query or trap path fails the run. The end-to-
# end benchmark's quick run (label e2e-bench) stays in the plain stage: it
# checks that the benchmark runs, which sanitizers add nothing to.
cmake --preset linux-asan
cmake --build --preset linux-asan
sanitized_ctest linux-asan

# libFuzzer targets (clang, ASan + UBSan): a fixed number of executions each
# over the seed corpora, and every input that ever made one fail.
cmake --preset linux-fuzz
cmake --build --preset linux-fuzz
ctest --preset linux-fuzz

# The suite under ThreadSanitizer, the test programs, hosts and applications
# it starts included. Left out: the hostile-peer test, which races on purpose,
# the benchmarks and the soak, and the 10,000-cycle test, which the debug and
# ASan stages run and which takes too long here.
cmake --preset linux-tsan
cmake --build --preset linux-tsan
sanitized_ctest linux-tsan
