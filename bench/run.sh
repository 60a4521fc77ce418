#!/usr/bin/env bash
# Runs one benchmark built in build/release (scripts/build.sh builds them) and prints its figures:
#   bench/run.sh data_access [rows]                      (default 100000)
#   bench/run.sh transfer [streets plans categories]     (default 100000 50000 50)
#   bench/run.sh curriculum [plan rows] [subjects]       (default 100000 1000)
#   bench/run.sh download [MiB...]                       (default 16 64 256)
# The extraction benchmark compares with unzip: python3 bench/run_extraction.py.
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ $# -lt 1 ]]; then
    echo "usage: bench/run.sh data_access|transfer|curriculum|download [arguments]" >&2
    exit 2
fi
bench=build/release/bench/bench_$1
shift
if [[ ! -x "$bench" ]]; then
    echo "$bench is not built: run scripts/build.sh first" >&2
    exit 1
fi
exec "$bench" "$@"
