# Debian packages with `cpack -G DEB` in the build folder: libkorvik-0-0 (the
# shared library, named after its SONAME libkorvik-0.so.0), libkorvik-dev
# (headers, pkg-config and CMake files), paramcalc, korvik and python3-korvik.
# Dependencies on system libraries come from dpkg-shlibdeps, those between the
# packages from the components. Every package passes lintian (tests/tools/test_packages.py).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Zelvane korvik team <korvik@zelvane.com>")
# no package-wide summary: CPackDeb would put it above every component's own
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
# a build without Qt's widgets has no paramcalc (and without Qt Core and Xml
# no korvik): it packages what it built rather than an empty package
set(CPACK_COMPONENTS_ALL runtime dev)
foreach(program paramcalc korvik)
  if(TARGET ${program})
    list(APPEND CPACK_COMPONENTS_ALL ${program})
  endif()
endforeach()
list(APPEND CPACK_COMPONENTS_ALL python)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# the programs' own library is found in the build tree, not among installed packages
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/lib)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

# every package's long description begins with what the kit is
set(about "The evaluation kit's boards carry one sub-GHz radio chip (RC1200, RC1300,\nRC1400, RC1100) and show up as USB network adapters. ")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libkorvik-0-0)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "Evaluation board library: board discovery, command protocol and chip models\n${about}This library\nfinds the boards, sets the air interface in physical units, turns it into\nchip registers and writes them with raw Ethernet frames; simulated boards\nwork without hardware.")
# CPackDeb reads only the package-wide name of this switch
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# the ldconfig trigger in place of CPack's ldconfig scripts
list(APPEND CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian/ldconfig_trigger.cmake)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libkorvik-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DESCRIPTION "Evaluation board library: headers, pkg-config and CMake files\n${about}This package\nholds what programs need to build against libkorvik-0: the C++ and C\nheaders, the pkg-config module korvik-0 and the CMake package korvik.")
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
# the public header brings sigc++ and glibmm
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libglibmm-2.4-dev, libsigc++-2.0-dev")

set(CPACK_DEBIAN_PARAMCALC_PACKAGE_NAME paramcalc)
set(CPACK_DEBIAN_PARAMCALC_PACKAGE_SECTION electronics)
set(CPACK_COMPONENT_PARAMCALC_DESCRIPTION "RC Parameter Calculator: the evaluation kit's graphical program\n${about}The RC\nParameter Calculator sets up their radio in physical units, edits every\nregister, keeps board defaults, saves settings files, shows microcontroller\ncode and runs packet tests.")
set(CPACK_COMPONENT_PARAMCALC_DEPENDS runtime)

set(CPACK_DEBIAN_KORVIK_PACKAGE_NAME korvik)
set(CPACK_DEBIAN_KORVIK_PACKAGE_SECTION electronics)
set(CPACK_COMPONENT_KORVIK_DESCRIPTION "Command-line tool for the evaluation kit's boards\n${about}korvik does\nevery board operation from a shell or a test station: list, get and set\nparameters in units, registers, settings files, code snippets, packets and\npacket error rate tests, with JSON output.")
set(CPACK_COMPONENT_KORVIK_DEPENDS runtime)
# the completion works without it, with fewer refinements
set(CPACK_DEBIAN_KORVIK_PACKAGE_RECOMMENDS bash-completion)

# python3-korvik: the pure Python package for Debian's python3; it finds the
# library by its SONAME. Only the package installs it: outside /usr the
# folder is not on Python's path (pip installs it there, see the README).
install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/src/korvik DESTINATION lib/python3/dist-packages
        COMPONENT python EXCLUDE_FROM_ALL
        FILES_MATCHING PATTERN "*.py" PATTERN "py.typed" PATTERN "__pycache__" EXCLUDE)
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-korvik)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3:any (>= 3.9)")
set(CPACK_COMPONENT_PYTHON_DESCRIPTION "Evaluation board library for Python\n${about}This package\nmakes a board feel native in Python: properties in SI units, registers as\nsequences, callbacks, asyncio, and the library's diagnostic lines in\nlogging.")
set(CPACK_COMPONENT_PYTHON_DEPENDS runtime)

# korvikd: the board server, its unit, group and man page
if(TARGET korvikd)
  list(APPEND CPACK_COMPONENTS_ALL korvikd)
  set(CPACK_DEBIAN_KORVIKD_PACKAGE_NAME korvikd)
  set(CPACK_DEBIAN_KORVIKD_PACKAGE_SECTION net)
  set(CPACK_COMPONENT_KORVIKD_DESCRIPTION "Board server for the evaluation kit's boards over gRPC\n${about}korvikd\nowns the host's boards (real, emulated and simulated, with one shared\nvirtual air) and serves them to unprivileged local programs through a Unix\nsocket and to other hosts over TLS with tokens, with leases on writes.")
  set(CPACK_COMPONENT_KORVIKD_DEPENDS runtime)
  set(CPACK_DEBIAN_KORVIKD_PACKAGE_DEPENDS "openssl")
endif()

# Each package's copyright and (native package) changelog in its doc folder.
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
execute_process(COMMAND gzip -9nc ${PROJECT_BINARY_DIR}/debian/changelog
                OUTPUT_FILE ${PROJECT_BINARY_DIR}/debian/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${component} upper)
  set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  if(NOT package)
    message(FATAL_ERROR "component ${component} has no Debian package name")
  endif()
  set(only_packaged "")
  if(component STREQUAL "python")
    set(only_packaged EXCLUDE_FROM_ALL)
  endif()
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component} ${only_packaged})
endforeach()

include(CPack)
