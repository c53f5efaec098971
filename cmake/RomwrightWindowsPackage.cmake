# The Windows build's installation (cmake --install) and what CPack makes of
# it: an NSIS installer and a ZIP of the same files (scripts/package-windows.sh).
# Included by RomwrightInstall.cmake instead of the POSIX rules. Everything
# goes into one folder, Program Files\Korvelon\romwright by default:
#
#   romwright-cli.exe, romwright.exe, romwright-mkimage.exe   the programs
#                  (and romwright-gui.exe where it is built, with MSVC)
#   romwright-sim.cmd, sim\Zenapi.dll   the simulated device library, where
#                  Windows never looks for Zenapi.dll on its own, and the
#                  script that names it for one command
#   doc\*.txt      the manuals, rendered as text from the man pages
#   LICENSE.txt, CHANGELOG.txt, doc\THIRD-PARTY.txt   romwright's terms, its
#                  changes, and the licences of what is compiled into it
#
# The real Zenapi.dll is found the way Windows finds a DLL: the maker's
# installer puts it in a system folder. Text files have CR LF line ends.

# cpack installs what is built; scripts/package-windows.sh builds only the
# installed targets.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

foreach(program romwright-cli romwright-gui romwright-mkimage romwright)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION . COMPONENT Runtime)
  endif()
endforeach()
# The DLL alone, without its import library.
install(FILES $<TARGET_FILE:Zenapi> DESTINATION sim COMPONENT Simulator)
configure_file(${CMAKE_CURRENT_LIST_DIR}/windows/romwright-sim.cmd.in ${CMAKE_BINARY_DIR}/install/romwright-sim.cmd
  @ONLY NEWLINE_STYLE CRLF)
install(PROGRAMS ${CMAKE_BINARY_DIR}/install/romwright-sim.cmd DESTINATION . COMPONENT Simulator)

# romwright_windows_text(<output> <input>): a copy of a text file with CR LF
# line ends, made at configure time.
function(romwright_windows_text output input)
  file(READ ${input} text)
  file(CONFIGURE OUTPUT ${output} CONTENT "${text}" NEWLINE_STYLE CRLF)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${input})
endfunction()

set(windows_text ${CMAKE_BINARY_DIR}/install/windows)
romwright_windows_text(${windows_text}/LICENSE.txt ${CMAKE_CURRENT_LIST_DIR}/windows/LICENSE.txt)
romwright_windows_text(${windows_text}/CHANGELOG.txt ${CMAKE_CURRENT_LIST_DIR}/debian/changelog)
install(FILES ${windows_text}/LICENSE.txt ${windows_text}/CHANGELOG.txt DESTINATION . COMPONENT Runtime)

# The licences of the libraries compiled into the programs, as the packages
# that bring them say them (Debian's copyright files), and better-sqlite3's
# for SQLite's amalgamation. Boost (Boost Software License), the GCC runtime
# (its runtime library exception) and SQLite itself (public domain) ask for
# no notice in programs; the file says so.
set(third_party_sources
  "fmt=/usr/share/doc/libfmt-dev/copyright"
  "docopt.cpp=/usr/share/doc/libdocopt-dev/copyright"
  "toml++=/usr/share/doc/libtomlplusplus-dev/copyright"
  "JSON for Modern C++=/usr/share/doc/nlohmann-json3-dev/copyright"
  "zlib=/usr/share/doc/libz-mingw-w64-dev/copyright"
  "libgcrypt=/usr/share/doc/libgcrypt-mingw-w64-dev/copyright"
  "libgpg-error=/usr/share/doc/libgpg-error-mingw-w64-dev/copyright"
  "MinGW-w64 runtime and winpthreads=/usr/share/doc/mingw-w64-x86-64-dev/copyright")
if(ROMWRIGHT_SQLITE_SOURCE_DIR)
  list(APPEND third_party_sources "better-sqlite3 (SQLite's amalgamation)=${ROMWRIGHT_SQLITE_SOURCE_DIR}/../../LICENSE")
endif()
set(third_party "Libraries compiled into the romwright programs and their licences\n\n"
  "Boost's headers (Boost Software License 1.0), the GCC runtime libraries (GPL with the GCC Runtime Library\n"
  "Exception) and SQLite (public domain) ask for no notice in programs made with them.\n")
foreach(source ${third_party_sources})
  string(REGEX REPLACE "=.*" "" name "${source}")
  string(REGEX REPLACE "^[^=]*=" "" file "${source}")
  if(EXISTS ${file})
    file(READ ${file} text)
    string(APPEND third_party "\n==============================================================================\n"
      "${name}\n==============================================================================\n\n${text}")
  else()
    message(WARNING "${file} is missing: the licence of ${name} is left out of THIRD-PARTY.txt")
  endif()
endforeach()
file(CONFIGURE OUTPUT ${windows_text}/THIRD-PARTY.txt CONTENT "${third_party}" NEWLINE_STYLE CRLF)
install(FILES ${windows_text}/THIRD-PARTY.txt DESTINATION doc COMPONENT Runtime)

# The manuals: each man page through scdoc and groff to plain text, at build
# time (scripts/package-windows.sh installs scdoc and groff).
find_program(ROMWRIGHT_SCDOC scdoc)
find_program(ROMWRIGHT_GROFF groff)
if(ROMWRIGHT_SCDOC AND ROMWRIGHT_GROFF)
  set(manuals)
  foreach(program romwright-cli romwright-gui romwright-mkimage romwright romwright-sim)
    if(NOT TARGET ${program} AND NOT program STREQUAL "romwright-sim")
      continue()
    endif()
    set(source ${PROJECT_SOURCE_DIR}/docs/man/${program}.1.scd)
    set(output ${windows_text}/doc/${program}.txt)
    # Plain text without hyphenation or overstriking; lines end in CR LF.
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${windows_text}/doc
      COMMAND sh -c "'${ROMWRIGHT_SCDOC}' < '${source}' | '${ROMWRIGHT_GROFF}' -man -Tascii -rHY=0 -P-cbou | sed 's/$/\\r/' > '${output}'"
      DEPENDS ${source}
      COMMENT "Writing the manual ${program}.txt"
      VERBATIM)
    list(APPEND manuals ${output})
    if(program STREQUAL "romwright-sim")
      install(FILES ${output} DESTINATION doc COMPONENT Simulator)
    else()
      install(FILES ${output} DESTINATION doc COMPONENT Runtime)
    endif()
  endforeach()
  add_custom_target(windows_manuals ALL DEPENDS ${manuals})
else()
  message(STATUS "scdoc or groff not found: the Windows manuals are not built (scripts/package-windows.sh installs them)")
endif()

# CPack: romwright-<version>-win64.exe (NSIS) and .zip, both of everything
# installed above (one package, no components to choose). The installer is
# made from cmake/windows/nsis/NSIS.template.in.
set(CPACK_PACKAGE_NAME romwright)
set(CPACK_PACKAGE_VENDOR "Korvelon")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for Korvel PCIe digitizer boards")
set(CPACK_PACKAGE_FILE_NAME romwright-${PROJECT_VERSION}-win64)
# Doubled twice: once for this file, once for CPackConfig.cmake, which cpack reads.
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Korvelon\\\\romwright")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY romwright)
set(CPACK_RESOURCE_FILE_LICENSE ${windows_text}/LICENSE.txt)
set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_MONOLITHIC_INSTALL ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR}/windows/nsis)
set(CPACK_NSIS_PACKAGE_NAME romwright)
set(CPACK_NSIS_DISPLAY_NAME romwright)
set(CPACK_NSIS_UNINSTALL_NAME Uninstall)
include(CPack)
