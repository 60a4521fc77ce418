#!/usr/bin/env bash
# Runs a program of the Windows build under Wine: in the prefix build/windows/wineprefix (made on first
# use, Russian locale so the ANSI code page is 1251 and the OEM one 866, no display driver), with
# the DLLs of the Windows libraries and of the mingw runtime on the search path. CTest runs the
# Windows tests through it.
# Usage: scripts/wine-run.sh [--deps=<folder of the Windows libraries>|none] program.exe [arguments...]
# With --deps=none no DLL folder is put on the search path: the program finds its DLLs beside it.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"

deps="${UPDATER_WINDOWS_DEPS:-}"
if [[ "${1:-}" == --deps=* ]]; then
    deps="${1#--deps=}"
    shift
fi
(($#)) || {
    echo "usage: $0 [--deps=<folder>] program.exe [arguments...]" >&2
    exit 2
}

export WINEPREFIX="${WINEPREFIX:-$repo/build/windows/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8
wine=/usr/lib/wine/wine64

if [[ ! -e "$WINEPREFIX/.ready" ]]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [[ ! -e "$WINEPREFIX/.ready" ]]; then
        rm -rf "$WINEPREFIX"
        DISPLAY= "$wine" wineboot --init >/dev/null 2>&1
        # The real Windows platform plugin then runs without any X display.
        "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
        /usr/lib/wine/wineserver -w
        touch "$WINEPREFIX/.ready"
    fi
    exec 9>&-
fi

# Wine hands a variable WINEQT_X on to the program as QT_X and drops QT_X itself. Without a console
# window Qt (and Qt Test's report) would write to the debugger instead of the output.
export WINEQT_FORCE_STDERR_LOGGING=1
for name in $(compgen -e); do
    if [[ "$name" == QT_* ]]; then export "WINE$name=${!name}"; fi
done

winepath=()
[[ "$deps" == none ]] || for dir in ${deps:+"$deps/bin"} /usr/lib/gcc/x86_64-w64-mingw32/*-posix /usr/x86_64-w64-mingw32/lib; do
    if [[ -d "$dir" ]]; then winepath+=("Z:${dir//\//\\}"); fi
done
WINEPATH="$(
    IFS=';'
    echo "${winepath[*]}"
)"
export WINEPATH
exec "$wine" "$@"
