# `cmake --install` in the places Debian uses under the prefix: the programs in bin, the plug-in in a
# directory of its own under lib (where a host is pointed at it), the stand-in host's library in one
# private to the programs, the README and the examples under share/doc, manual pages in man1.
set(PX46_PACKAGE_NAME px46tr-k)  # Debian package names take no underscore
set(CMAKE_INSTALL_DOCDIR share/doc/${PX46_PACKAGE_NAME} CACHE PATH "documentation (DATAROOTDIR/doc/px46tr-k)")
include(GNUInstallDirs)

set(PX46_PLUGIN_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/px46tr_k)
set(PX46_HOST_LIBRARY_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/smd-host)

# Installed programs find their libraries relative to themselves, so any prefix works.
file(RELATIVE_PATH plugin_dir_from_bin ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_PREFIX}/${PX46_PLUGIN_INSTALL_DIR})
file(RELATIVE_PATH host_library_dir_from_bin ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_PREFIX}/${PX46_HOST_LIBRARY_INSTALL_DIR})
set_target_properties(smd-host px46tr_k-sim PROPERTIES INSTALL_RPATH "$ORIGIN/${host_library_dir_from_bin}")
target_compile_definitions(smd-host PRIVATE PX46_PLUGIN_DIR_FROM_BIN="${plugin_dir_from_bin}")

install(TARGETS smd-host px46tr_k-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS px46tr_k LIBRARY DESTINATION ${PX46_PLUGIN_INSTALL_DIR})
install(TARGETS smdhost LIBRARY DESTINATION ${PX46_HOST_LIBRARY_INSTALL_DIR})
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
