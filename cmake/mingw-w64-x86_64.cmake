# Cross build for 64-bit Windows with Debian's MinGW-w64 compilers (the
# "posix" thread variant, which has std::thread and std::mutex), run under
# Wine. scripts/test-windows.sh uses it:
#
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The libraries that Debian ships only for Linux (fmt, docopt, toml++,
# nlohmann-json, Boost, GoogleTest) are taken from their headers and sources
# by the config files of cmake/windows/; zlib comes from libz-mingw-w64-dev,
# libgcrypt and its error library from libgcrypt-mingw-w64-dev.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ROMWRIGHT_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ROMWRIGHT_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ROMWRIGHT_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ROMWRIGHT_MINGW_TRIPLET}-windres)

# Libraries and headers only from the MinGW tree, programs from the host.
# /usr/include itself is never searched: its glibc headers break the cross
# compiler.
set(CMAKE_FIND_ROOT_PATH /usr/${ROMWRIGHT_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C and C++ runtimes, winpthread, zlib and libgcrypt go into each program and DLL,
# so a program needs nothing beside it but Zenapi.dll.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine, in a Wine prefix of the build folder's own.
# WINEDEBUG=-all keeps Wine's own diagnostics out of what the tests read.
find_program(ROMWRIGHT_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(ROMWRIGHT_WINE NAMES wine64 wine)
if(ROMWRIGHT_WINE AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      env WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEDEBUG=-all ${ROMWRIGHT_WINE})
endif()

# Where find_package finds fmt, docopt, toml++, nlohmann-json, Boost and
# GoogleTest for Windows (see cmake/windows/), and zlib's static library.
foreach(package fmt docopt tomlplusplus nlohmann_json Boost GTest)
  set(${package}_DIR ${CMAKE_CURRENT_LIST_DIR}/windows CACHE PATH "Windows build of ${package}")
endforeach()
set(ZLIB_INCLUDE_DIR /usr/${ROMWRIGHT_MINGW_TRIPLET}/include CACHE PATH "zlib for Windows")
set(ZLIB_LIBRARY /usr/${ROMWRIGHT_MINGW_TRIPLET}/lib/libz.a CACHE FILEPATH "zlib for Windows, static")
set(GCRYPT_INCLUDE_DIR /usr/${ROMWRIGHT_MINGW_TRIPLET}/include CACHE PATH "libgcrypt for Windows")
set(GCRYPT_LIBRARY /usr/${ROMWRIGHT_MINGW_TRIPLET}/lib/libgcrypt.a CACHE FILEPATH "libgcrypt for Windows, static")
set(GPG_ERROR_LIBRARY /usr/${ROMWRIGHT_MINGW_TRIPLET}/lib/libgpg-error.a CACHE FILEPATH
    "libgpg-error for Windows, static (libgcrypt's own)")
