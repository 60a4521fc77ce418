#!/usr/bin/env bash
# Fails on any C++ file that clang-format (Debian 12's clang-format-14, with the committed
# .clang-format) would change, and names each.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh clang-format-14 >/dev/null
mapfile -t files < <(git ls-files '*.h' '*.cpp')
clang-format-14 --dry-run --Werror "${files[@]}"
echo "clang-format: ${#files[@]} files as formatted"
