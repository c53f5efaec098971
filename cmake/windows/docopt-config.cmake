# docopt for the Windows cross build: built from the source Debian ships
# beside its headers (/usr/include/docopt/docopt.cpp) as a static library.
include(${CMAKE_CURRENT_LIST_DIR}/stage_headers.cmake)
if(NOT TARGET docopt)
  romwright_stage_headers(docopt_include /usr/include/docopt)
  add_library(docopt STATIC ${docopt_include}/docopt/docopt.cpp)
  # Not our code: its warnings are not ours to fix.
  set_target_properties(docopt PROPERTIES COMPILE_OPTIONS -w)
  target_include_directories(docopt SYSTEM PUBLIC ${docopt_include})
endif()
