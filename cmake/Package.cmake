# The Debian package, built by CPack from the install rules (scripts/build-package.sh). One package
# holds the plug-in, both programs, the header, the .pc file and the manual pages.
set(ZORVEX_PACKAGE_MAINTAINER "zorvex-checker maintainers <zorvex-checker@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zorvex-checker)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "diagnostics check reporting the installed Zorvex products")
# CPack puts the summary first and indents the lines; an empty line separates paragraphs.
set(CPACK_PACKAGE_DESCRIPTION "The zorvex_app_check plug-in finds which products of the Zorvex family
are installed, from the family installer's databases and manifests, from dpkg
and from rpm, and returns a JSON report and a status code. It only reads.

This package holds the plug-in, the zorvex_app_check program that runs the
check on its own, the diag-host program that loads check plug-ins and runs
their checks, and the C header and pkg-config file for writing hosts.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZORVEX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# Depends from the libraries the binaries need. The commands the check runs (find, which, grep,
# dpkg) are Essential on Debian and are not listed; rpm is only used where it is installed.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${ZORVEX_PLUGIN_INSTALL_DIR})
include(CPack)
