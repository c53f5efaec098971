# What `cmake --install` puts where, and the Debian package made of it
# (RomwrightPackage.cmake). Included at the end of the top-level
# CMakeLists.txt, once every program target exists.
#
# Components:
#   Runtime      the programs, their man pages, the desktop entry and icons
#   Simulator    the simulated libZenapi.so in a private folder, and
#                romwright-sim, the only way to run a program on it
#   Development  the engine as a static library and its public headers
#
# Installed programs carry no RUNPATH (CMAKE_INSTALL_RPATH is empty): they
# find libZenapi.so where the maker's library is found, in the system's
# library folders or LD_LIBRARY_PATH, never the simulator by accident. The
# build tree keeps its RUNPATH to build/lib, so the demo and the tests run on
# the simulator as before.

# The Windows build installs into one folder and packs an installer instead.
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/RomwrightWindowsPackage.cmake)
  return()
endif()

include(GNUInstallDirs)

# cpack and "ninja install" install what is built; scripts/package.sh builds
# only the installed targets, not the tests.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(ROMWRIGHT_SIM_LIBDIR ${CMAKE_INSTALL_LIBDIR}/romwright/sim)

# Every program target that exists is installed; its man page is
# docs/man/<program>.1.scd, and a test holds each installed program to having
# one. A new program needs its name here and its page there.
set(ROMWRIGHT_PROGRAMS romwright-cli romwright-gui romwright-mkimage romwright)
foreach(program ${ROMWRIGHT_PROGRAMS})
  if(TARGET ${program})
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "")
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
  endif()
endforeach()

# The simulator, where no loader looks unless romwright-sim says so.
set_target_properties(Zenapi PROPERTIES INSTALL_RPATH "")
# (A Windows build's DLL and import library are its RUNTIME and ARCHIVE parts.)
install(TARGETS Zenapi
  LIBRARY DESTINATION ${ROMWRIGHT_SIM_LIBDIR} COMPONENT Simulator NAMELINK_SKIP
  RUNTIME DESTINATION ${ROMWRIGHT_SIM_LIBDIR} COMPONENT Simulator
  ARCHIVE DESTINATION ${ROMWRIGHT_SIM_LIBDIR} COMPONENT Simulator)

file(RELATIVE_PATH ROMWRIGHT_SIM_FROM_BIN
  ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_PREFIX}/${ROMWRIGHT_SIM_LIBDIR})
configure_file(${CMAKE_CURRENT_LIST_DIR}/romwright-sim.in ${CMAKE_BINARY_DIR}/install/romwright-sim @ONLY)
install(PROGRAMS ${CMAKE_BINARY_DIR}/install/romwright-sim DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Simulator)

# For programs of one's own on the engine: its C interface and front-end
# layer (include/romwright/), the device library's interface header, and the
# engine itself. The simulator's control header is for the tests only.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/romwright DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  COMPONENT Development)
install(FILES ${PROJECT_SOURCE_DIR}/zenapi/include/zenapi/Zenapi.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zenapi
  COMPONENT Development)
install(TARGETS romwright_engine ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development)

# Man pages: scdoc sources in docs/man/, turned into gzipped roff at build
# time when scdoc is there (scripts/install-deps.sh installs it).
find_program(ROMWRIGHT_SCDOC scdoc)
file(GLOB ROMWRIGHT_MAN_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/*.1.scd)
if(ROMWRIGHT_SCDOC)
  set(man_pages)
  foreach(source ${ROMWRIGHT_MAN_SOURCES})
    get_filename_component(page ${source} NAME_WLE)  # romwright-cli.1
    set(output ${CMAKE_BINARY_DIR}/man/${page}.gz)
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND sh -c "'${ROMWRIGHT_SCDOC}' < '${source}' | gzip -9n > '${output}'"
      DEPENDS ${source}
      COMMENT "Writing the man page ${page}"
      VERBATIM)
    list(APPEND man_pages ${output})
    if(page STREQUAL "romwright-sim.1")
      set(component Simulator)
    else()
      set(component Runtime)
    endif()
    install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${man_pages})
else()
  message(STATUS "scdoc not found: the man pages are not built (scripts/install-deps.sh installs it)")
endif()

# The GUI's desktop entry and its icon in the hicolor theme, drawn at build
# time by the script that draws the window icon.
if(TARGET romwright-gui)
  find_package(Python3 COMPONENTS Interpreter)
  install(FILES ${PROJECT_SOURCE_DIR}/gui/romwright-gui.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
    COMPONENT Runtime)
  if(Python3_Interpreter_FOUND)
    set(icons)
    foreach(size 16 32 48 64 128)
      set(icon ${CMAKE_BINARY_DIR}/icons/${size}x${size}/romwright-gui.png)
      add_custom_command(OUTPUT ${icon}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
        COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/gui/icon/make-icon.py --png ${size} ${icon}
        DEPENDS ${PROJECT_SOURCE_DIR}/gui/icon/make-icon.py
        COMMENT "Drawing the ${size}x${size} icon"
        VERBATIM)
      list(APPEND icons ${icon})
      install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps COMPONENT Runtime)
    endforeach()
    add_custom_target(desktop_icons ALL DEPENDS ${icons})
  endif()
endif()

# Debian asks every package for its copyright file and changelog.
set(ROMWRIGHT_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/romwright)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/install/changelog.Debian.gz
  COMMAND sh -c "gzip -9n < '${CMAKE_CURRENT_LIST_DIR}/debian/changelog' > '${CMAKE_BINARY_DIR}/install/changelog.Debian.gz'"
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/debian/changelog
  VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/install/changelog.Debian.gz)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${CMAKE_BINARY_DIR}/install/changelog.Debian.gz
  DESTINATION ${ROMWRIGHT_DOCDIR} COMPONENT Runtime)

include(${CMAKE_CURRENT_LIST_DIR}/RomwrightPackage.cmake)
