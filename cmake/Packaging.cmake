# Debian packages with `cpack -G DEB` in the build folder: libkorvik0 (the
# shared library), libkorvik-dev (headers, pkg-config and CMake files),
# paramcalc and korvik. Dependencies on system libraries come from
# dpkg-shlibdeps, those between the packages from the components.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "korvik developers <korvik@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Software of a sub-GHz radio evaluation kit")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev paramcalc korvik)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# the programs' own library is found in the build tree, not among installed packages
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/lib)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libkorvik0)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "Evaluation board library: board discovery, command protocol and chip models")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_GENERATE_SHLIBS ON)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libkorvik-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DESCRIPTION "Evaluation board library: headers, pkg-config and CMake files")
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
# the public header brings sigc++ and glibmm
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libglibmm-2.4-dev, libsigc++-2.0-dev")

set(CPACK_DEBIAN_PARAMCALC_PACKAGE_NAME paramcalc)
set(CPACK_DEBIAN_PARAMCALC_PACKAGE_SECTION electronics)
set(CPACK_COMPONENT_PARAMCALC_DESCRIPTION "RC Parameter Calculator: the evaluation kit's graphical program")
set(CPACK_COMPONENT_PARAMCALC_DEPENDS runtime)

set(CPACK_DEBIAN_KORVIK_PACKAGE_NAME korvik)
set(CPACK_DEBIAN_KORVIK_PACKAGE_SECTION electronics)
set(CPACK_COMPONENT_KORVIK_DESCRIPTION "Command-line tool for the evaluation kit's boards")
set(CPACK_COMPONENT_KORVIK_DEPENDS runtime)

# korvikd: the board server, its unit, group and man page
if(TARGET korvikd)
  list(APPEND CPACK_COMPONENTS_ALL korvikd)
  set(CPACK_DEBIAN_KORVIKD_PACKAGE_NAME korvikd)
  set(CPACK_DEBIAN_KORVIKD_PACKAGE_SECTION net)
  set(CPACK_COMPONENT_KORVIKD_DESCRIPTION "Board server: the host's evaluation boards for local and remote programs over gRPC")
  set(CPACK_COMPONENT_KORVIKD_DEPENDS runtime)
  set(CPACK_DEBIAN_KORVIKD_PACKAGE_DEPENDS "openssl")
endif()

include(CPack)
