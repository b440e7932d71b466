# Debian packages: `cpack -G DEB` in a release build folder writes zelp_<version>_<arch>.deb (the
# program and its manual page) and libkud-dev_<version>_<arch>.deb (headers, static library,
# CMake package, kud.pc), one a component. Their dependencies are computed with dpkg-shlibdeps;
# the first line of each description is its summary.
set(ZELP_PACKAGE_CONTACT "ZELP maintainers <maintainers@example.org>"
    CACHE STRING "Maintainer of the Debian packages, as Name <address>")

set(CPACK_PACKAGE_NAME zelp)
set(CPACK_PACKAGE_VENDOR "ZELP")
set(CPACK_PACKAGE_CONTACT ${ZELP_PACKAGE_CONTACT})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL zelp libkud-dev)

set(CPACK_COMPONENT_ZELP_DESCRIPTION
  "extract the plot data lines of a text file for a spreadsheet
zelp reads text in which prose and numbers are mixed, such as the printed output of simulation
and measurement programs, and writes its numeric data lines as fixed-point fields separated by
TABs, ready for a spreadsheet. Numbers may be small expressions (2*PI, SIN(PI/6)*10).")
set(CPACK_COMPONENT_LIBKUD-DEV_DESCRIPTION
  "KUD line-reader library (static library and headers)
KUD reads records on unit numbers and splits each significant line into integer, real and text
items; numbers may be small expressions. One reader per process. This package holds the
headers (<kud/kud.hpp>), the static library, the CMake package (find_package(kud), target
kud::kud) and the pkg-config file kud.pc.")

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ZELP_PACKAGE_NAME zelp)
set(CPACK_DEBIAN_ZELP_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_LIBKUD-DEV_PACKAGE_NAME libkud-dev)
set(CPACK_DEBIAN_LIBKUD-DEV_PACKAGE_SECTION libdevel)

include(CPack)
