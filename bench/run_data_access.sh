#!/usr/bin/env bash
# Runs the data-access benchmark built in build/release (scripts/build.sh builds it) and prints its
# figures. An optional argument gives the number of rows (default 100000).
set -euo pipefail
cd "$(dirname "$0")/.."
bench=build/release/bench/bench_data_access
if [[ ! -x "$bench" ]]; then
    echo "$bench is not built: run scripts/build.sh first" >&2
    exit 1
fi
exec "$bench" "$@"
