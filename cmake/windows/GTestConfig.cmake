# GoogleTest for the Windows cross build: built from the source Debian ships
# in /usr/src/googletest, which names its targets as its installed package
# does (GTest::gtest, GTest::gmock, ...).
if(NOT TARGET GTest::gtest)
  if(NOT EXISTS /usr/src/googletest/CMakeLists.txt)
    message(FATAL_ERROR "/usr/src/googletest is missing: install the Debian package googletest")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  # Win32 threads inside GoogleTest rather than winpthreads.
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  # Built with its own warning flags, not with the project's -Werror.
  get_directory_property(romwright_saved_options COMPILE_OPTIONS)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "${romwright_saved_options}")
endif()
set(GTest_FOUND TRUE)
