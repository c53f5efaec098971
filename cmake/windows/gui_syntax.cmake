# romwright-gui in the Windows cross build: Debian has no Qt for MinGW to
# build and link it with, but its sources are compiled for Windows all the
# same, syntax only, against Debian's Qt 6 headers (which detect the target
# system themselves): a call that only POSIX has fails here as it would in a
# native Windows build. Target gui_windows_syntax, built by
# scripts/test-windows.sh --smoke --compile-tests (CI); one stamp per file.
include(${CMAKE_CURRENT_LIST_DIR}/stage_headers.cmake)

# Debian's Qt headers are in the host's multiarch folder.
file(GLOB qt_headers /usr/include/*-linux-gnu*/qt6)
if(qt_headers)
  list(GET qt_headers 0 qt_headers)
endif()
if(NOT qt_headers OR NOT EXISTS ${qt_headers}/QtWidgets)
  message(STATUS "Qt 6's headers are missing: romwright-gui's sources are not compiled for Windows "
                 "(apt-get install qt6-base-dev)")
  return()
endif()
romwright_stage_headers(qt_include ${qt_headers})

set(gui_syntax_flags -std=c++17 -fsyntax-only -Wall -Wextra -Werror
  -isystem ${qt_include}/qt6 -isystem ${qt_include}/qt6/QtCore -isystem ${qt_include}/qt6/QtGui
  -isystem ${qt_include}/qt6/QtWidgets
  -I${PROJECT_SOURCE_DIR}/include -I${PROJECT_SOURCE_DIR}/zenapi/include)
# The headers of fmt and Boost that the engine's public headers include, as
# the Windows build has them (cmake/windows/).
foreach(library fmt::fmt Boost::headers)
  get_target_property(folders ${library} INTERFACE_INCLUDE_DIRECTORIES)
  foreach(folder ${folders})
    list(APPEND gui_syntax_flags -isystem ${folder})
  endforeach()
  get_target_property(definitions ${library} INTERFACE_COMPILE_DEFINITIONS)
  if(definitions)
    foreach(definition ${definitions})
      list(APPEND gui_syntax_flags -D${definition})
    endforeach()
  endif()
endforeach()
file(GLOB gui_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/gui/*.cpp)
file(GLOB gui_headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/gui/*.hpp)
file(GLOB_RECURSE public_headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/include/*.h ${PROJECT_SOURCE_DIR}/include/*.hpp
  ${PROJECT_SOURCE_DIR}/zenapi/include/*.h)
set(stamps)
foreach(source ${gui_sources})
  get_filename_component(name ${source} NAME_WE)
  set(stamp ${CMAKE_BINARY_DIR}/gui-syntax/${name}.checked)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/gui-syntax
    COMMAND ${CMAKE_CXX_COMPILER} ${gui_syntax_flags} ${source}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${source} ${gui_headers} ${public_headers}
    COMMENT "Compiling gui/${name}.cpp for Windows (syntax only)"
    VERBATIM)
  list(APPEND stamps ${stamp})
endforeach()
add_custom_target(gui_windows_syntax DEPENDS ${stamps})
