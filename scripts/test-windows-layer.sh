#!/usr/bin/env bash
# Cross-compiles the Qt-free Windows layer (registry backend, code pages, executable folder, folder handles) with
# mingw-w64 through the windows-layer preset and runs its tests under Wine with the Russian code pages (as root, on Debian 12).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh g++-mingw-w64-x86-64-posix wine64 locales
# Wine takes its code pages (ANSI 1251, OEM 866) from the Unix locale.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU.utf8$'; then
    sed -i 's/^# *ru_RU.UTF-8 UTF-8/ru_RU.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
fi

# The windows-layer preset builds the Qt-free libraries and tests/windows/ with mingw-w64.
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake --preset windows-layer -G Ninja "${launcher[@]}" >/dev/null
cmake --build --preset windows-layer -j"$(nproc)"

out=build/windows-layer
export WINEPREFIX="$PWD/$out/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8
/usr/lib/wine/wine64 "$out/tests/windows/test_windows_layer.exe"
# FolderHandle's Windows layer.
/usr/lib/wine/wine64 "$out/tests/windows/test_folder_handle_windows.exe"
