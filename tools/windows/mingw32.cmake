# CMake toolchain file: 32-bit Windows (i686-w64-mingw32) with the POSIX-thread MinGW-w64 compilers.
#
# The dependency cache prefix is taken, in order, from -DZUMVO_MINGW_PREFIX=..., the environment
# variable ZUMVO_MINGW_PREFIX, or the default below: the link ~/.cache/zumvo/mingw32 that
# build-deps.sh keeps pointing at the last complete cache.  (The copy of this file that
# build-deps.sh writes into each cache, <cache>/share/zumvo/mingw32.cmake, defaults to that cache.)
# Programs built here run through wine (tests, try_run).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ZUMVO_MINGW_TRIPLE i686-w64-mingw32)

set(_zumvo_default_prefix "$ENV{HOME}/.cache/zumvo/mingw32")
if(NOT ZUMVO_MINGW_PREFIX)
  if(DEFINED ENV{ZUMVO_MINGW_PREFIX})
    set(ZUMVO_MINGW_PREFIX "$ENV{ZUMVO_MINGW_PREFIX}")
  else()
    set(ZUMVO_MINGW_PREFIX "${_zumvo_default_prefix}")
  endif()
endif()
# try_compile projects re-read this file; hand the prefix down to them.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZUMVO_MINGW_PREFIX)

set(CMAKE_C_COMPILER ${ZUMVO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZUMVO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZUMVO_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${ZUMVO_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${ZUMVO_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")

# Search headers, libraries and CMake packages in the cache prefix (and the MinGW sysroot) only;
# build tools (moc, nasm, tclsh...) come from the host.
set(CMAKE_FIND_ROOT_PATH "${ZUMVO_MINGW_PREFIX}" /usr/${ZUMVO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_PREFIX_PATH "${ZUMVO_MINGW_PREFIX}")

# pkg-config: only the cache's .pc files (they hold absolute paths into the prefix).
set(ENV{PKG_CONFIG_LIBDIR} "${ZUMVO_MINGW_PREFIX}/lib/pkgconfig:${ZUMVO_MINGW_PREFIX}/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Windows executables built here run under 32-bit wine (ctest, try_run, gtest discovery).
find_program(ZUMVO_WINE NAMES wine wine-stable REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR "${ZUMVO_WINE}")

# Qt's cross build uses the host's Qt 6 tools (moc, rcc, uic) of the same version.
if(NOT DEFINED QT_HOST_PATH)
  set(QT_HOST_PATH /usr CACHE PATH "Host Qt prefix (moc, rcc, uic)")
endif()
if(NOT DEFINED QT_HOST_PATH_CMAKE_DIR)
  file(GLOB _zumvo_qt_host_cmake LIST_DIRECTORIES true /usr/lib/*-linux-gnu/cmake/Qt6HostInfo)
  if(_zumvo_qt_host_cmake)
    list(GET _zumvo_qt_host_cmake 0 _zumvo_qt_host_cmake)
    get_filename_component(_zumvo_qt_host_cmake "${_zumvo_qt_host_cmake}" DIRECTORY)
    set(QT_HOST_PATH_CMAKE_DIR "${_zumvo_qt_host_cmake}" CACHE PATH "Host Qt CMake packages")
  endif()
endif()
