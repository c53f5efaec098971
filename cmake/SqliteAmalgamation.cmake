# SQLite compiled from its amalgamation (sqlite3.c and sqlite3.h in
# ROMWRIGHT_SQLITE_SOURCE_DIR) into a static library that stands for the
# system's SQLite::SQLite3. scripts/test-windows.sh fetches the files, at a
# pinned version, from the npm package better-sqlite3, which carries them in
# deps/sqlite3/. SQLite is in the public domain.
set(sqlite_source ${ROMWRIGHT_SQLITE_SOURCE_DIR}/sqlite3.c)
set(sqlite_header ${ROMWRIGHT_SQLITE_SOURCE_DIR}/sqlite3.h)
if(NOT EXISTS ${sqlite_source} OR NOT EXISTS ${sqlite_header})
  message(FATAL_ERROR "ROMWRIGHT_SQLITE_SOURCE_DIR=${ROMWRIGHT_SQLITE_SOURCE_DIR} lacks sqlite3.c or sqlite3.h")
endif()
file(STRINGS ${sqlite_header} sqlite_version_line REGEX "^#define SQLITE_VERSION +\"")
string(REGEX REPLACE ".*\"([0-9.]+)\".*" "\\1" sqlite_version "${sqlite_version_line}")
if(sqlite_version VERSION_LESS 3.35)
  message(FATAL_ERROR "${sqlite_header} is SQLite ${sqlite_version}; the history needs 3.35 or later")
endif()
message(STATUS "SQLite ${sqlite_version} from ${ROMWRIGHT_SQLITE_SOURCE_DIR}")

add_library(romwright_sqlite STATIC ${sqlite_source})
target_include_directories(romwright_sqlite SYSTEM PUBLIC ${ROMWRIGHT_SQLITE_SOURCE_DIR})
# What the history does not use is left out; threads as the system has them.
target_compile_definitions(romwright_sqlite PRIVATE
  SQLITE_THREADSAFE=1 SQLITE_DQS=0 SQLITE_DEFAULT_MEMSTATUS=0 SQLITE_OMIT_LOAD_EXTENSION
  SQLITE_OMIT_DEPRECATED SQLITE_OMIT_SHARED_CACHE SQLITE_OMIT_PROGRESS_CALLBACK)
# Someone else's code: lightly optimised (it is one 9 MB file, and the
# history writes a few rows per run), its warnings not ours to fix, so
# -Werror does not apply to it. Compiled alone, never merged into a unity
# build's files. The Windows smoke build, which is thrown away, takes -O0:
# a third of -O1's compile.
set(ROMWRIGHT_SQLITE_OPTIMIZATION -O1 CACHE STRING "The optimisation flag SQLite's amalgamation is compiled with")
target_compile_options(romwright_sqlite PRIVATE ${ROMWRIGHT_SQLITE_OPTIMIZATION} -w)
set_target_properties(romwright_sqlite PROPERTIES UNITY_BUILD OFF)
if(NOT WIN32)
  find_package(Threads REQUIRED)
  target_link_libraries(romwright_sqlite PUBLIC Threads::Threads ${CMAKE_DL_LIBS} m)
endif()
add_library(SQLite::SQLite3 ALIAS romwright_sqlite)
