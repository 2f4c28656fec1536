#!/usr/bin/env bash
# Counts non-blank lines of C, C++ and Python source: test code (tests/,
# fuzz/, tools/soak/) against everything else outside bench/ and build/, and
# prints both with their ratio. Files git knows of or would track are counted.
set -euo pipefail
cd "$(dirname "$0")/.."

count() {
    git ls-files --cached --others --exclude-standard -- "$@" |
        grep -E '\.(c|cc|cpp|h|hpp|py)$' | grep -vE '^(build|bench)/' |
        while read -r file; do
            [ -f "$file" ] && grep -cve '^[[:space:]]*$' "$file" || true
        done | awk '{ sum += $1 } END { print sum + 0 }'
}

tests=$(count tests fuzz tools/soak)
all=$(count .)
code=$((all - tests))
awk -v t="$tests" -v c="$code" 'BEGIN {
    printf "test lines %d, code lines %d, ratio %.2f\n", t, c, (c > 0 ? t / c : 0)
}'
