# nlohmann's JSON library for the Windows cross build: Debian's headers
# (the library is header-only).
include(${CMAKE_CURRENT_LIST_DIR}/stage_headers.cmake)
if(NOT TARGET nlohmann_json::nlohmann_json)
  romwright_stage_headers(nlohmann_json_include /usr/include/nlohmann)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${nlohmann_json_include})
endif()
