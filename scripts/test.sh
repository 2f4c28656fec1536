#!/usr/bin/env bash
# Installs the dependencies, builds every configuration CI checks and runs the
# whole test suite. This is what CI runs. Every stage runs even when an earlier
# one failed; the table at the end says which did, and the exit status is
# non-zero if any did.
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh || exit 1

declare -a rows=()
failed=0 total_run=0 total_failed=0

# stage PRESET [sanitized]: configure, build and test one preset, with a
# banner before and a row in the final table after.
#
# The sanitizer presets send every ASan, LSan and TSan report, from the test
# programs and from the processes they start, to files under
# build/PRESET/sanitizer-reports: a child's report would otherwise be lost
# whenever its test does not read the child's stderr. Any file there fails the
# stage. (UBSan aborts the process at its first report.)
stage() {
    local preset=$1 sanitized=${2:-} start=$SECONDS status=0
    local log=build/$preset.ctest.log reports=build/$preset/sanitizer-reports
    printf '\n==== %s ====\n\n' "$preset"
    mkdir -p build
    if [ -n "$sanitized" ]; then
        rm -rf "$reports"
        mkdir -p "$reports"
    fi
    if cmake --preset "$preset" && cmake --build --preset "$preset"; then
        ctest --preset "$preset" 2>&1 | tee "$log"
        status=${PIPESTATUS[0]}
    else
        status=1
        : >"$log"
    fi
    if [ -n "$sanitized" ] && [ -n "$(ls -A "$reports")" ]; then
        echo "sanitizer reports in $reports:" >&2
        head -n 60 "$reports"/* >&2
        status=1
    fi
    local counts tests=""
    counts=$(sed -nE 's/.*tests passed, ([0-9]+) tests failed out of ([0-9]+).*/\2 \1/p' "$log" | tail -n 1)
    if [ -n "$counts" ]; then
        set -- $counts
        tests="$1 run, $2 failed"
        total_run=$((total_run + $1))
        total_failed=$((total_failed + $2))
    fi
    local result=passed
    if [ "$status" != 0 ]; then result=FAILED; failed=1; fi
    rows+=("$(printf '%-14s %-22s %6ss  %s' "$preset" "${tests:-none run}" $((SECONDS - start)) "$result")")
}

# QVSNMP.dll for Windows x64: its export and import tables, and the Windows
# test programs run under wine (in a prefix under build/windows-cross).
stage windows-cross

# The Linux build and its test suite.
stage linux-debug

# The whole suite again under AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer: hosts in the tests free every binding as the SNMP
# service does, so a leak on the query or trap path fails the run. The end-to-
# end benchmark's quick run (label e2e-bench) stays in the plain stage: it
# checks that the benchmark runs, which sanitizers add nothing to.
stage linux-asan sanitized

# libFuzzer targets (clang, ASan + UBSan): a fixed number of executions each
# over the seed corpora, and every input that ever made one fail.
stage linux-fuzz

# The suite under ThreadSanitizer, the test programs, hosts and applications
# it starts included. Left out: the hostile-peer test, which races on purpose,
# the benchmarks and the soak, and the 10,000-cycle test, which the debug and
# ASan stages run and which takes too long here.
stage linux-tsan sanitized

printf '\n==== summary ====\n\n'
printf '%-14s %-22s %7s  %s\n' stage tests time result
printf '%s\n' "${rows[@]}"
echo
scripts/loc.sh
echo "total: $((total_run - total_failed)) passed, $total_failed failed"
exit "$failed"
