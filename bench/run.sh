#!/usr/bin/env bash
# Runs one benchmark built in build/release (scripts/build.sh builds them) and prints its figures:
#   bench/run.sh data_access [rows]                      (default 100000)
#   bench/run.sh transfer [streets plans categories]     (default 100000 50000 50)
#   bench/run.sh curriculum [plan rows] [subjects]       (default 100000 1000)
#   bench/run.sh download [MiB...]                       (default 16 64 256)
#   bench/run.sh log [lines]                             (default 20000)
#   bench/run.sh extraction [--quick] [--runs N] [--shapes files,small,large]
#                                                        (bench/run_extraction.py: against unzip,
#                                                        bsdtar and 7z, installed when missing)
# The registry file of a large size: bash bench/registry_file.sh [MiB [updater]].
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ $# -lt 1 ]]; then
    echo "usage: bench/run.sh data_access|transfer|curriculum|download|log|extraction [arguments]" >&2
    exit 2
fi
if [[ $1 == extraction ]]; then
    shift
    exec python3 bench/run_extraction.py "$@"
fi
bench=build/release/bench/bench_$1
shift
if [[ ! -x "$bench" ]]; then
    echo "$bench is not built: run scripts/build.sh first" >&2
    exit 1
fi
exec "$bench" "$@"
