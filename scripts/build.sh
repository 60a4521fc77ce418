#!/usr/bin/env bash
# Configures and builds the release preset (program, tests, benchmarks) into build/release.
set -euo pipefail
cd "$(dirname "$0")/.."
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake --preset release -G Ninja "${launcher[@]}" >/dev/null
cmake --build --preset release -j"$(nproc)"
