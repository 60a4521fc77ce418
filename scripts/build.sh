#!/usr/bin/env bash
# Configures and builds one preset (default: release, the program, tests and benchmarks) into
# build/<preset>. Usage: scripts/build.sh [preset]
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-release}"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake --preset "$preset" -G Ninja "${launcher[@]}" >/dev/null
cmake --build --preset "$preset" -j"$(nproc)"
