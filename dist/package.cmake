# The Debian package rq730calib_VERSION_ARCH.deb: everything the install rules put under /usr,
# its dependencies found by dpkg-shlibdeps. Built from a configured tree by ./run package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rq730calib)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "calibration and weighing program for the RQ 730 CANopen weighing module")
set(CPACK_PACKAGE_DESCRIPTION "RQ730Calib shows the weight of one RQ 730 weighing module on a CANopen
bus in large digits, copies it to the clipboard, feeds the legal-for-trade
display, sends every weight to a serial port as a telegram and zeroes the
module on request. The package also holds the CANopen driver library
libcanopen32 with its header and pkg-config file, the virtual CAN bus canhub,
the simulated module rq730sim, the command line tool cotool and the network
monitor canmonitor.")
set(CPACK_PACKAGE_CONTACT "RQ730Calib developers <rq730calib@example.org>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "RQ730Calib developers <rq730calib@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The weight panel is drawn in Arial; Liberation Sans has its metrics.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-liberation2)
# dpkg-shlibdeps must find the package's own libraries, not look for another package holding them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${CMAKE_BINARY_DIR}/bin)
# libcanopen32.so.2 is public: its shlibs entry lets other packages depend on it, and the
# ldconfig trigger keeps the linker cache current. Written by hand: the generated ones would
# also offer the program's private library to other packages and call ldconfig from scripts.
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/shlibs.in ${CMAKE_CURRENT_BINARY_DIR}/control/shlibs @ONLY)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/triggers ${CMAKE_CURRENT_BINARY_DIR}/control/triggers
               COPYONLY)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_BINARY_DIR}/control/shlibs ${CMAKE_CURRENT_BINARY_DIR}/control/triggers)
set(CPACK_STRIP_FILES ON)
set(CPACK_THREADS 0)
include(CPack)
