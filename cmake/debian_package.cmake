# `make package`: a Debian package of what `cmake --install` lays out, under /usr. Its run-time
# dependencies come from the shared libraries the programs and the plug-in link (dpkg-shlibdeps).
# The programs and libraries ship stripped; their debug information goes into a debug-symbols
# package beside it (px46tr-k-dbgsym_VERSION_ARCH.ddeb, files under /usr/lib/debug/.build-id that
# the stripped objects name by build id and .gnu_debuglink), so that a crash at a site can be read.
# The package also runs the runner as a service: the unit smd-host@.service, its user (made by
# systemd-sysusers in the postinst, hence the dependency) and /etc/smd-host for the site files.
set(PX46_PACKAGE_MAINTAINER "px46tr_k developers <px46tr-k@example.org>"
    CACHE STRING "Maintainer field of the Debian package: NAME <MAIL>")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PX46_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "driver plug-in, runner and simulator of a monitoring unit")
set(CPACK_PACKAGE_DESCRIPTION "The px46tr_k device-driver plug-in supervises one model of
power-distribution monitoring unit over Modbus for a host monitoring
framework. The package also holds a stand-in host runner, smd-host, and a
simulator of the unit, px46tr_k-sim.")
set(CPACK_PACKAGE_CONTACT "${PX46_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_DEBIAN_PACKAGE_NAME ${PX46_PACKAGE_NAME})
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/repair_debug_package.cmake)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/add_service_files.cmake)
set(CPACK_PX46_SERVICE_UNIT ${PROJECT_SOURCE_DIR}/debian/smd-host@.service)
set(CPACK_PX46_SYSUSERS ${PROJECT_SOURCE_DIR}/debian/${PX46_PACKAGE_NAME}.sysusers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/debian/postinst ${PROJECT_SOURCE_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Added to what dpkg-shlibdeps finds: the chart library the runner's page loads (Debian's own
# copy), and whatever provides systemd-sysusers for the postinst.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libjs-chart.js, systemd | systemd-standalone-sysusers | systemd-sysusers")
# The stand-in host's library ships in the package: dpkg-shlibdeps finds it there.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
include(CPack)
