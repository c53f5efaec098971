# toml++ for the Windows cross build: Debian's headers, header-only (its own
# default; Debian's Linux library is not used).
include(${CMAKE_CURRENT_LIST_DIR}/stage_headers.cmake)
if(NOT TARGET tomlplusplus::tomlplusplus)
  romwright_stage_headers(toml_include /usr/include/toml++)
  add_library(tomlplusplus::tomlplusplus INTERFACE IMPORTED)
  set_target_properties(tomlplusplus::tomlplusplus PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${toml_include}
    INTERFACE_COMPILE_DEFINITIONS TOML_HEADER_ONLY=1)
endif()
