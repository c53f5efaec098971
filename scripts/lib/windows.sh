# Sourced by scripts/test-windows.sh and scripts/package-windows.sh: the
# cross build for 64-bit Windows with Debian's MinGW-w64 compiler and Wine.
# Expects the working folder to be the repository's root and `say` to be
# defined.
#
#   windows_packages P...      installs P and what every Windows build needs
#   windows_sqlite             fetches SQLite's amalgamation once; sets sqlite_dir
#   windows_configure B T F... configures build folder B, build type T, with
#                              the cmake options F...
#   windows_build_type_flags   the options of a build of type Smoke (-O1, unity)
#   start_wine B               Wine in B/wineprefix (made on first use), one
#                              server until the script ends
# shellcheck shell=bash

source scripts/lib/packages.sh

windows_packages() {
  ensure_packages "${windows_packages[@]}" "$@"
}

# --- SQLite's amalgamation ---------------------------------------------------
# sqlite3.c and sqlite3.h as the npm package better-sqlite3 carries them in
# deps/sqlite3/, at a pinned version whose tarball and SQLite version are
# checked; only unpacked, never installed or run. SQLite is in the public
# domain, better-sqlite3 under the MIT licence.
windows_sqlite() {
  local sqlite_package=better-sqlite3@12.8.0
  local sqlite_tarball_sha256=2602a5726d0a9d8e6be407c59bc125e605110eda8e3b04e7ef8d6ddf762c9122
  local sqlite_version=3.51.3
  local deps=${ROMWRIGHT_WINDOWS_DEPS:-$PWD/build-windows-deps}
  sqlite_dir=$deps/${sqlite_package/@/-}/deps/sqlite3
  if [ ! -f "$sqlite_dir/sqlite3.c" ] || [ ! -f "$sqlite_dir/sqlite3.h" ]; then
    command -v npm >/dev/null || ensure_packages "${npm_packages[@]}"
    mkdir -p "$deps"
    local tarball
    tarball=$(cd "$deps" && npm pack --silent "$sqlite_package" | tail -n 1)
    if ! echo "$sqlite_tarball_sha256  $deps/$tarball" | sha256sum --check --status; then
      echo "$0: $deps/$tarball is not the pinned $sqlite_package" >&2
      exit 1
    fi
    rm -rf "$deps/${sqlite_package/@/-}"
    mkdir -p "$deps/${sqlite_package/@/-}"
    tar -xzf "$deps/$tarball" -C "$deps/${sqlite_package/@/-}" --strip-components=1 \
      package/deps/sqlite3/sqlite3.c package/deps/sqlite3/sqlite3.h package/LICENSE
    rm -f "$deps/$tarball"
    say "SQLite fetched"
  fi
  if ! grep -q "^#define SQLITE_VERSION  *\"$sqlite_version\"" "$sqlite_dir/sqlite3.h"; then
    echo "$0: $sqlite_dir/sqlite3.h is not SQLite $sqlite_version" >&2
    exit 1
  fi
}

# A build of type Smoke: optimised lightly (-O1 compiles in a fraction of
# -O3's time, and the runs it makes move little data), one compiler run per
# few source files (fmt is header-only in this build, and parsing it again for
# every file was most of the compile time). A type from a file's anonymous
# namespace then looks, to the compiler, as if a header declared it: that
# warning means nothing in a unity build.
windows_smoke_flags=(-DCMAKE_BUILD_TYPE=Smoke "-DCMAKE_CXX_FLAGS_SMOKE=-O1 -Wno-subobject-linkage"
                     "-DCMAKE_C_FLAGS_SMOKE=-O1" -DCMAKE_UNITY_BUILD=ON -DROMWRIGHT_SQLITE_OPTIMIZATION=-O0)

windows_configure() {
  local build=$1
  shift
  windows_sqlite
  cmake -S . -B "$build" -G Ninja --log-level=WARNING \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
    -DROMWRIGHT_WERROR=ON -DROMWRIGHT_BUILD_GUI=OFF -DROMWRIGHT_BUILD_BENCH=OFF \
    -DROMWRIGHT_SQLITE_SOURCE_DIR="$sqlite_dir" "$@"
}

# --- Wine -------------------------------------------------------------------
start_wine() {
  local build=$1
  wine=/usr/lib/wine/wine64
  [ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
  export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all
  wineserver="$(dirname "$(readlink -f "$wine")")/wineserver"
  [ -x "$wineserver" ] || wineserver=$(command -v wineserver)
  trap '"$wineserver" -k 2>/dev/null || true' EXIT
  # One server for the whole run instead of one per program started, the
  # prefix's making included. Wine's own services (started with the first
  # program and kept by the persistent server) are started here, away from
  # any output: started by a test program they would hold its output pipe
  # open, and ctest would wait for it.
  mkdir -p "$WINEPREFIX"
  "$wineserver" -p 2>/dev/null || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    # No Mono or Gecko: nothing here needs .NET or a web view.
    WINEDLLOVERRIDES="mscoree=;mshtml=" "$wine" wineboot --init >/dev/null 2>&1
    say "Wine prefix made"
  fi
  "$wine" cmd /c exit </dev/null >/dev/null 2>&1 || true
}
