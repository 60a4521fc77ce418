#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and runs every test
# under them (after scripts/install-deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake --preset sanitize -G Ninja "${launcher[@]}" >/dev/null
cmake --build --preset sanitize -j"$(nproc)"
ctest --preset sanitize -j"$(nproc)"
