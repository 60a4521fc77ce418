#!/usr/bin/env bash
# Installs what is missing, builds, prepares the demo kit in demo-kit/ and runs the updater on it:
# the window when a display is present, the unattended mode otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
kit="$PWD/demo-kit"
build/release/demo/make_demo_kit "$kit" build/release/update_3_7
export KVARNEL_REGISTRY="$kit/registry.reg"
cd "$kit/update_3_7"
if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]]; then
    exec ./update_3_7
else
    exec ./update_3_7 --silent
fi
