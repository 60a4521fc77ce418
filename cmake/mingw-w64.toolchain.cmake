# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (POSIX thread model, so std::thread works).
# The libraries built for Windows (Qt, libzip, SQLCipher, libcurl) are found below
# UPDATER_WINDOWS_DEPS when it is set (a cache variable or the environment variable of that name).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT UPDATER_WINDOWS_DEPS AND DEFINED ENV{UPDATER_WINDOWS_DEPS})
    set(UPDATER_WINDOWS_DEPS "$ENV{UPDATER_WINDOWS_DEPS}")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${UPDATER_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config reads the .pc files of the Windows libraries only.
if(UPDATER_WINDOWS_DEPS)
    set(ENV{PKG_CONFIG_LIBDIR} "${UPDATER_WINDOWS_DEPS}/lib/pkgconfig")
    set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
endif()
