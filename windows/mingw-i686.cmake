# CMake toolchain file: cross-build trackcarve for 32-bit Windows with Debian's
# mingw-w64 (posix thread model) against the static libogg/libvorbis that
# windows/setup.sh installs.
#
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=windows/mingw-i686.cmake
#
# The prefix comes from -DTRACKCARVE_MINGW_PREFIX=..., else the environment
# variable of the same name, else /opt/trackcarve-mingw (setup.sh's default).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(_tc_triplet i686-w64-mingw32)

if(NOT DEFINED TRACKCARVE_MINGW_PREFIX)
  if(DEFINED ENV{TRACKCARVE_MINGW_PREFIX} AND NOT "$ENV{TRACKCARVE_MINGW_PREFIX}" STREQUAL "")
    set(TRACKCARVE_MINGW_PREFIX "$ENV{TRACKCARVE_MINGW_PREFIX}")
  else()
    set(TRACKCARVE_MINGW_PREFIX "/opt/trackcarve-mingw")
  endif()
endif()
set(TRACKCARVE_MINGW_PREFIX "${TRACKCARVE_MINGW_PREFIX}" CACHE PATH
    "Prefix holding the static target libraries (libogg, libvorbis)")
# try_compile() projects re-read this file; hand them the same prefix.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TRACKCARVE_MINGW_PREFIX)

# The -posix variants: the win32 thread model lacks std::thread/std::mutex.
set(CMAKE_C_COMPILER   ${_tc_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_tc_triplet}-g++-posix)
set(CMAKE_RC_COMPILER  ${_tc_triplet}-windres)

# Target headers/libraries only from the mingw sysroot and our prefix; build
# tools (programs) from the host.
set(CMAKE_FIND_ROOT_PATH "${TRACKCARVE_MINGW_PREFIX}" /usr/${_tc_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# SSE2 for all floating point, in the program and in the libraries that
# setup.sh builds with this file: with the x87 default the Vorbis encoder
# takes 1.3 times as long (bench/windows_audio.sh). SSE2 came with the
# Pentium 4 (2000) and the Athlon 64 (2003); Windows 8 and later require it.
# GCC here realigns the stack where SSE needs it (-mstackrealign is on by
# default for this target), so callbacks from Windows are safe.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

# Self-contained .exe: libgcc, libstdc++ and winpthread linked in, so the
# program imports only KERNEL32.dll and msvcrt.dll.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Release builds ship without symbols (-s, a third of the size) and without
# a link time stamp, so the same sources always give the same .exe.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s -Wl,--no-insert-timestamp")

# pkg-config must read the target's .pc files, never the host's
# (/usr/lib/x86_64-linux-gnu/pkgconfig). PKG_CONFIG_LIBDIR replaces the
# default search path; PKG_CONFIG_PATH would only add to it. The .pc files
# hold absolute paths already, so no sysroot is prepended.
set(ENV{PKG_CONFIG_LIBDIR} "${TRACKCARVE_MINGW_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
