# Boost for the Windows cross build: Debian's headers only (the engine uses
# header-only parts), as the target Boost::headers.
include(${CMAKE_CURRENT_LIST_DIR}/stage_headers.cmake)
if(NOT TARGET Boost::headers)
  romwright_stage_headers(boost_include /usr/include/boost)
  add_library(Boost::headers INTERFACE IMPORTED)
  set_target_properties(Boost::headers PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${boost_include})
endif()
set(Boost_INCLUDE_DIRS ${boost_include})
