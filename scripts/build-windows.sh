#!/usr/bin/env bash
# Builds the updater for 64-bit Windows on Debian 12 (as root) and the folder an operator unpacks:
#   1. installs the mingw-w64 cross toolchain and Wine from Debian;
#   2. builds Qt, libzip, OpenSSL's libcrypto with SQLCipher on it, and libcurl (Schannel) for Windows
#      from Debian's source packages, once, into ~/.cache/update_3_7/windows-<key>/ (the key covers
#      the source versions, the compiler and the build recipes below), and reuses that folder;
#   3. cross-builds the program (preset "windows", build/windows) and gathers
#      build/windows/update_3_7-windows-x64/ and its zip;
#   4. makes a Wine prefix with the Russian code pages and runs the program there on the demo kit.
#   5. with --tests, also builds the tests for Windows and runs them under Wine through CTest
#      (scripts/wine-run.sh is the preset's emulator).
#   With --window, also starts the window on the demo kit under Wine and Xvfb and saves a screenshot
#   to build/windows/window.png.
# Usage: scripts/build-windows.sh [--deps-only] [--no-wine] [--tests] [--window]
set -euo pipefail
cd "$(dirname "$0")/.."
repo="$PWD"

deps_only=0
run_wine=1
tests=OFF
window=0
for arg in "$@"; do
    case "$arg" in
    --deps-only) deps_only=1 ;;
    --no-wine) run_wine=0 ;;
    --tests) tests=ON ;;
    --window) window=1 ;;
    *)
        echo "unknown argument: $arg" >&2
        exit 2
        ;;
    esac
done

jobs="${UPDATER_JOBS:-2}"
triple=x86_64-w64-mingw32
export CC="$triple-gcc-posix" CXX="$triple-g++-posix"

bash scripts/install-deps.sh g++-mingw-w64-x86-64-posix wine64 libz-mingw-w64-dev dpkg-dev make perl tcl \
    locales xvfb xauth zip imagemagick

# Wine takes its code pages (ANSI 1251, OEM 866) from the Unix locale.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU.utf8$'; then
    sed -i 's/^# *ru_RU.UTF-8 UTF-8/ru_RU.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' >>/etc/locale.gen
    locale-gen >/dev/null
fi

# ---------------------------------------------------------------------------------------------
# Source packages: a deb-src entry for every mirror and suite apt already uses.
src_list=/etc/apt/sources.list.d/update_3_7-deb-src.sources
if ! grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    {
        for f in /etc/apt/sources.list.d/*.sources; do
            [[ -e "$f" && "$f" != "$src_list" ]] || continue
            sed -E 's/^Types:.*/Types: deb-src/' "$f"
            echo
        done
        for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
            [[ -e "$f" ]] || continue
            # A one-line entry "deb [opts] URI suite components..." becomes a deb822 stanza.
            sed -nE 's/^deb[[:space:]]+(\[[^]]*\][[:space:]]+)?([^[:space:]]+)[[:space:]]+([^[:space:]]+)[[:space:]]+(.*)$/Types: deb-src\nURIs: \2\nSuites: \3\nComponents: \4\n/p' "$f"
        done
    } >"$src_list"
    apt-get update -qq
fi

cache_root="${UPDATER_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/update_3_7}"
source_cache="$cache_root/sources"

# Fetches the newest version of a source package that the mirror still serves (a mirror may list a
# security update before it holds its files) and prints that version.
fetch_source() {
    local pkg="$1" v dir
    mkdir -p "$source_cache"
    for v in $(apt-cache showsrc --only-source "$pkg" | awk '/^Version:/ {print $2}' | sort -urV); do
        dir="$source_cache/$pkg-$v"
        if [[ ! -e "$dir/.fetched" ]]; then
            rm -rf "$dir"
            mkdir -p "$dir"
            (cd "$dir" && apt-get source -q --download-only "$pkg=$v") >>"$source_cache/$pkg.log" 2>&1 || {
                rm -rf "$dir"
                continue
            }
            touch "$dir/.fetched"
        fi
        echo "$v"
        return 0
    done
    echo "cannot fetch the source package $pkg (see $source_cache/$pkg.log)" >&2
    return 1
}

source_packages=(qt6-base libzip openssl sqlcipher curl)
declare -A version
for p in "${source_packages[@]}"; do
    version[$p]=$(fetch_source "$p")
done

# ---------------------------------------------------------------------------------------------
# The recipes. Each runs in its unpacked source folder and installs into $prefix; their text is
# part of the cache key, so changing a flag rebuilds. The toolchain file only names the compilers,
# whose package versions are in the key.
toolchain="$repo/cmake/mingw-w64.toolchain.cmake"

build_libzip() {
    cmake -S . -B _build -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=ON \
        -DENABLE_COMMONCRYPTO=OFF -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF -DENABLE_OPENSSL=OFF \
        -DENABLE_WINDOWS_CRYPTO=ON -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF \
        -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF
    cmake --build _build -j"$jobs"
    cmake --install _build
}

build_openssl() {
    # Static libcrypto only: it goes into the SQLCipher DLL.
    CC=gcc-posix CXX=g++-posix ./Configure mingw64 --cross-compile-prefix="$triple-" --prefix="$prefix" \
        --libdir=lib no-shared no-tests no-engine no-module no-legacy
    make -j"$jobs" build_libs
    make install_dev
}

build_sqlcipher() {
    # The amalgamation is made with the host's tools; the DLL is linked from it by hand, because
    # libtool will not put a static libcrypto into a DLL.
    local flags=(-O2 -DSQLITE_HAS_CODEC -DSQLITE_TEMP_STORE=2 -DSQLITE_THREADSAFE=1 -DSQLITE_OS_WIN=1
        -DSQLITE_ENABLE_COLUMN_METADATA -DSQLITE_ENABLE_UNLOCK_NOTIFY -DSQLITE_SECURE_DELETE
        -DSQLITE_MAX_VARIABLE_NUMBER=250000 -I"$prefix/include")
    ./configure --host="$triple" --build="$(dpkg-architecture -qDEB_BUILD_GNU_TYPE)" \
        --enable-tempstore=yes --disable-tcl --disable-readline config_TARGET_EXEEXT=.exe \
        CFLAGS="${flags[*]}" LDFLAGS="-L$prefix/lib" LIBS="-lcrypto -lws2_32 -lgdi32 -lcrypt32 -lbcrypt -luser32 -ladvapi32" \
        BUILD_CC=gcc
    make BEXE= TEXE=.exe sqlite3.c
    mkdir -p "$prefix/bin" "$prefix/lib/pkgconfig" "$prefix/include/sqlcipher"
    "$CC" -shared "${flags[@]}" "-DSQLITE_API=__declspec(dllexport)" sqlite3.c \
        -o "$prefix/bin/libsqlcipher-0.dll" -Wl,--out-implib,"$prefix/lib/libsqlcipher.dll.a" \
        -L"$prefix/lib" -lcrypto -lws2_32 -lgdi32 -lcrypt32 -lbcrypt -luser32 -ladvapi32 -static-libgcc
    "$CC" -O2 -DSQLITE_HAS_CODEC -I. src/shell.c -o "$prefix/bin/sqlcipher.exe" \
        -L"$prefix/lib" -lsqlcipher -static-libgcc
    install -m 644 sqlite3.h src/sqlite3ext.h "$prefix/include/sqlcipher/"
    cat >"$prefix/lib/pkgconfig/sqlcipher.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: SQLCipher
Description: SQL database engine with encryption
Version: ${version[sqlcipher]%%-*}
Libs: -L\${libdir} -lsqlcipher
Cflags: -I\${includedir}/sqlcipher -DSQLITE_HAS_CODEC
EOF
}

build_curl() {
    cmake -S . -B _build -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=ON -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF \
        -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBSSH=OFF \
        -DUSE_LIBIDN2=OFF -DUSE_NGHTTP2=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DCURL_ZLIB=OFF \
        -DCURL_DISABLE_LDAP=ON -DENABLE_MANUAL=OFF -DCURL_CA_PATH=none -DCURL_CA_BUNDLE=none
    cmake --build _build -j"$jobs"
    cmake --install _build
}

build_qt() {
    # Debian's own moc/rcc/uic (qt6-base-dev-tools, the same version) serve as the host tools.
    # direct2d stays (the platform plugin needs it to link); Debian's tarball has no wintab.
    mkdir -p _build
    cd _build
    ../configure -prefix "$prefix" -release -shared -opensource -confirm-license \
        -xplatform win32-g++ -qt-host-path /usr -nomake examples -nomake tests -no-pkg-config \
        -no-opengl -no-dbus -no-icu -no-openssl \
        -qt-zlib -qt-pcre -qt-harfbuzz -qt-freetype -qt-libpng -no-libjpeg \
        -no-feature-sql -no-feature-xml -no-feature-concurrent -no-feature-printsupport \
        -no-feature-direct2d1_1 -no-feature-tabletevent \
        -- -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
    cmake --build . -j"$jobs"
    cmake --install .
}

recipes=(libzip openssl sqlcipher curl qt)
declare -A source_of=([libzip]=libzip [openssl]=openssl [sqlcipher]=sqlcipher [curl]=curl [qt]=qt6-base)

key=$( {
    for p in "${source_packages[@]}"; do echo "$p ${version[$p]}"; done
    dpkg-query -W -f='${Package} ${Version}\n' g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev \
        libz-mingw-w64-dev qt6-base-dev-tools
    for r in "${recipes[@]}"; do declare -f "build_$r"; done
} | sha256sum | cut -c1-12)
prefix="$cache_root/windows-$key"
work="$cache_root/windows-$key.work"

if [[ -e "$prefix/.complete" ]]; then
    echo "Windows libraries: reusing $prefix"
else
    echo "Windows libraries: building into $prefix"
    mkdir -p "$prefix" "$work"
    export UPDATER_WINDOWS_DEPS="$prefix" # the toolchain file then keeps pkg-config off the host's libraries
    total_started=$SECONDS
    for r in "${recipes[@]}"; do
        [[ -e "$prefix/.done-$r" ]] && continue
        pkg="${source_of[$r]}"
        started=$SECONDS
        # A recipe that stopped half-way starts again from freshly unpacked sources.
        rm -rf "${work:?}/$r"
        mkdir -p "$work/$r"
        dpkg-source --no-copy -x "$source_cache/$pkg-${version[$pkg]}"/*.dsc "$work/$r/src" >"$work/$r.log" 2>&1
        echo "  $r ${version[$pkg]}: building (log: $work/$r.log)"
        if ! (cd "$work/$r/src" && "build_$r") >>"$work/$r.log" 2>&1; then
            tail -40 "$work/$r.log" >&2
            echo "building $r failed; the whole log is $work/$r.log" >&2
            exit 1
        fi
        echo "  $r: $((SECONDS - started)) s"
        touch "$prefix/.done-$r"
    done
    echo "Windows libraries: built in $((SECONDS - total_started)) s"
    touch "$prefix/.complete"
    rm -rf "$work"
fi
export UPDATER_WINDOWS_DEPS="$prefix"
((deps_only)) && exit 0

# ---------------------------------------------------------------------------------------------
# The program and the demo kit builder.
out=build/windows
started=$SECONDS
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake --preset windows -G Ninja "${launcher[@]}" -DBUILD_TESTING=$tests >/dev/null
cmake --build --preset windows -j"$jobs"
echo "Windows program: built in $((SECONDS - started)) s"

# ---------------------------------------------------------------------------------------------
# The folder an operator unpacks: the program, every DLL it needs, and res/ for the update archive.
package="$out/update_3_7-windows-x64"
rm -rf "$package" "$package.zip"
mkdir -p "$package/platforms" "$package/styles" "$package/translations" "$package/res"
install -m 755 "$out/update_3_7.exe" "$package/"
for dll in Qt6Core Qt6Gui Qt6Widgets Qt6Network libzip libcurl libsqlcipher-0; do
    install -m 644 "$prefix/bin/$dll.dll" "$package/"
done
install -m 644 /usr/x86_64-w64-mingw32/lib/zlib1.dll /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll \
    /usr/lib/gcc/"$triple"/*-posix/{libstdc++-6,libgcc_s_seh-1}.dll "$package/"
# The window's platform, the unattended mode's one, and the native look of the widgets.
install -m 644 "$prefix"/plugins/platforms/{qwindows,qoffscreen}.dll "$package/platforms/"
install -m 644 "$prefix"/plugins/styles/qwindowsvistastyle.dll "$package/styles/"
# Qt's own dialog buttons in Russian.
install -m 644 /usr/share/qt6/translations/qtbase_ru.qm "$package/translations/"
find "$package" \( -name '*.exe' -o -name '*.dll' \) -exec "$triple-strip" --strip-unneeded {} +
printf '[Paths]\r\nPrefix=.\r\nPlugins=.\r\nTranslations=translations\r\n' >"$package/qt.conf"
printf 'Сюда кладётся архив обновления res_ad.zip.\r\n' >"$package/res/README.txt"

# Every DLL that a program or DLL of the folder imports is in the folder or is Windows' own: an API
# set (api-ms-win-*, which the loader maps) or a system DLL that Wine also provides, redistributable
# runtimes excepted.
system_dlls=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
missing=0
while IFS= read -r -d '' binary; do
    while read -r dll; do
        lower="${dll,,}"
        [[ -n "$(find "$package" -maxdepth 1 -iname "$dll" -print -quit)" ]] && continue
        [[ "$lower" == api-ms-win-* || "$lower" == ext-ms-* ]] && continue
        if [[ -e "$system_dlls/$lower" && ! "$lower" =~ ^(msvcp|vcruntime|msvcr[0-9]) ]]; then continue; fi
        echo "missing DLL: ${binary#"$package"/} needs $dll" >&2
        missing=1
    done < <("$triple-objdump" -p "$binary" | awk '/DLL Name:/ {print $3}')
done < <(find "$package" -iname '*.exe' -print0 -o -iname '*.dll' -print0)
((missing == 0)) || exit 1
(cd "$out" && zip -qr "$(basename "$package").zip" "$(basename "$package")")
echo "Windows folder: $package ($(du -sh "$package" | cut -f1), zip $(du -h "$package.zip" | cut -f1))"
((run_wine)) || exit 0

# ---------------------------------------------------------------------------------------------
# Under Wine: the demo kit, its registry imported with regedit, the unattended update.
wine_run() { scripts/wine-run.sh --deps="$prefix" "$@"; }
windows_path() { echo "Z:${1//\//\\}"; }
kit="$repo/$out/demo-kit"
wine_run "$out/demo/make_demo_kit.exe" "$(windows_path "$kit")" "$(windows_path "$repo/$package/update_3_7.exe")"
# The updater folder of the kit is the folder an operator unpacks, with the update archive in res/.
cp -r "$package"/. "$kit/update_3_7/"
wine_run regedit /s "$(windows_path "$kit/registry.reg")"
/usr/lib/wine/wineserver -w

# Started from its own folder alone: no DLL of the build on the search path.
(cd "$kit/update_3_7" && "$repo/scripts/wine-run.sh" --deps=none ./update_3_7.exe --version)
status=0
(cd "$kit/update_3_7" && "$repo/scripts/wine-run.sh" --deps=none ./update_3_7.exe --silent) || status=$?
/usr/lib/wine/wineserver -w
echo "update_3_7.exe --silent under Wine: exit status $status"
((status == 0)) || exit 1
for section in vus_bistral SchoolBase VUS_dop; do
    value=$(wine_run reg query "HKCU\\Software\\$section" /v ProgrammVersion | tr -d '\r' |
        awk '/ProgrammVersion/ {print $NF}')
    echo "Wine registry: HKCU\\Software\\$section ProgrammVersion = $value"
    [[ "$value" == 3.7 ]] || exit 1
done

if ((window)); then
    # The window through Wine's X11 driver on a virtual display, for as long as a screenshot takes.
    export WINEPREFIX="$repo/$out/wineprefix"
    display=:$((90 + RANDOM % 9))
    Xvfb "$display" -screen 0 1280x800x24 >/dev/null 2>&1 &
    xvfb=$!
    wine_run regedit /s "$(windows_path "$kit/registry.reg")"
    wine_run reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 /f >/dev/null
    /usr/lib/wine/wineserver -w # Wine's desktop process starts again with that driver
    restore() {
        kill "$xvfb" 2>/dev/null || true
        wine_run reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
        /usr/lib/wine/wineserver -w
    }
    trap restore EXIT
    (cd "$kit/update_3_7" && DISPLAY="$display" timeout 40 "$repo/scripts/wine-run.sh" --deps=none ./update_3_7.exe \
        >/dev/null 2>&1 || true) &
    program=$!
    sleep 30
    DISPLAY="$display" import -window root "$out/window.png"
    wait "$program"
    echo "The window under Wine: $out/window.png"
fi

if [[ "$tests" == ON ]]; then
    ctest --preset windows -j"$jobs"
fi
