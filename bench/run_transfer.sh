#!/usr/bin/env bash
# Runs the row transfer benchmark built in build/release (scripts/build.sh builds it) and prints its
# figures. Optional arguments: street rows, plan rows, categories (default 100000 50000 50).
set -euo pipefail
cd "$(dirname "$0")/.."
bench=build/release/bench/bench_transfer
if [[ ! -x "$bench" ]]; then
    echo "$bench is not built: run scripts/build.sh first" >&2
    exit 1
fi
exec "$bench" "$@"
