#!/usr/bin/env bash
# Cross-compiles the Qt-free Windows layer (registry backend, code pages, executable folder, folder handles) with
# mingw-w64 and runs its tests under Wine with the Russian code pages (as root, on Debian 12).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh g++-mingw-w64-x86-64-posix wine64 locales
# Wine takes its code pages (ANSI 1251, OEM 866) from the Unix locale.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU.utf8$'; then
    sed -i 's/^# *ru_RU.UTF-8 UTF-8/ru_RU.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
fi

out=build/windows
mkdir -p "$out"
x86_64-w64-mingw32-g++-posix -std=c++20 -O1 -Wall -Wextra -Werror -I. -static \
    tests/windows/test_windows_layer.cpp platform/registry_windows.cpp platform/registry_rules.cpp \
    platform/codepage_native.cpp platform/executable_folder_native.cpp platform/system_error.cpp \
    -o "$out/test_windows_layer.exe" -ladvapi32

export WINEPREFIX="$PWD/$out/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8
/usr/lib/wine/wine64 "$out/test_windows_layer.exe"

# FolderHandle's Windows layer.
x86_64-w64-mingw32-g++-posix -std=c++20 -O1 -Wall -Wextra -Werror -I. -static \
    tests/windows/test_folder_handle_windows.cpp platform/folder_handle_windows.cpp \
    -o "$out/test_folder_handle_windows.exe" -lntdll
/usr/lib/wine/wine64 "$out/test_folder_handle_windows.exe"
