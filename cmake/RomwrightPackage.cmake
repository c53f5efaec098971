# The Debian package (cpack -G DEB, see scripts/package.sh): one package,
# "romwright", holding the programs and the simulator; the development files
# stay out of it. Dependencies come from dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME romwright)
set(CPACK_PACKAGE_VENDOR "Korvelon")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for Korvel PCIe digitizer boards")
set(CPACK_PACKAGE_DESCRIPTION "romwright rewrites the configuration flash of Korvel's PCIe digitizer boards
with a new FPGA image (.pof or .rpd files) through the device library Zenapi,
and verifies what it wrote. It comes as a console program, romwright-cli, and
a Qt program, romwright-gui.
.
The package also holds a simulated device library with a machine of boards,
for trying the programs out without hardware: romwright-sim runs a program on
it. The programs themselves never load the simulator on their own; they need
the maker's libZenapi.so to reach real boards.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Runtime Simulator)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_PACKAGE_NAME romwright)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "romwright developers <romwright@korvelon.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The simulator is a private library: dpkg-shlibdeps finds it here, and no
# other package provides it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
# Files and folders as Debian policy wants them (0755 folders, root-owned).
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

include(CPack)
