# `make package`: a Debian package of what `cmake --install` lays out, under /usr. Its run-time
# dependencies come from the shared libraries the programs and the plug-in link (dpkg-shlibdeps).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PX46_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "px46tr_k power-distribution monitoring unit driver, runner and simulator")
set(CPACK_PACKAGE_DESCRIPTION "The px46tr_k device-driver plug-in for a host monitoring framework, the
stand-in host runner smd-host and the unit simulator px46tr_k-sim.")
set(CPACK_PACKAGE_CONTACT "px46tr_k developers <px46tr_k@localhost>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The stand-in host's library ships in the package: dpkg-shlibdeps finds it there.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
include(CPack)
