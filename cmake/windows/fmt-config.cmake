# fmt for the Windows cross build: Debian's headers, header-only.
include(${CMAKE_CURRENT_LIST_DIR}/stage_headers.cmake)
if(NOT TARGET fmt::fmt)
  romwright_stage_headers(fmt_include /usr/include/fmt)
  add_library(fmt::fmt INTERFACE IMPORTED)
  set_target_properties(fmt::fmt PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${fmt_include}
    INTERFACE_COMPILE_DEFINITIONS FMT_HEADER_ONLY=1)
endif()
