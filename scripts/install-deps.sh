#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and running the updater need (as root),
# and any further packages named on the command line. The window is laid out in Tahoma and Times New
# Roman: Wine's Tahoma and Liberation Serif have the same metrics. Qt's Russian translation words
# the buttons of its dialogs.
set -euo pipefail

packages=(
    "$@"
    cmake ninja-build g++ pkg-config ccache
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libzip-dev libsqlcipher-dev sqlcipher sqlite3 libcurl4-openssl-dev
    zip unzip
    fonts-liberation2 fonts-wine qt6-translations-l10n
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
