# `cmake --install` in the places Debian uses under the prefix: the programs in bin, the plug-in in a
# directory of its own under lib/<multiarch> (where a host is pointed at it), the stand-in host's
# library in one private to the programs, the README and the pages it links, the examples, the
# copyright and the changelog under share/doc, manual pages in man1, the live page's files in
# share/px46tr-k/web. The private directories are
# the same whatever the prefix, so an install under /usr and the package lay the files out alike;
# neither is a directory the dynamic linker searches, so the package needs no ldconfig.
set(PX46_PACKAGE_NAME px46tr-k)  # Debian package names take no underscore
set(CMAKE_INSTALL_DOCDIR share/doc/${PX46_PACKAGE_NAME} CACHE PATH "documentation (DATAROOTDIR/doc/px46tr-k)")
include(GNUInstallDirs)

if(CMAKE_LIBRARY_ARCHITECTURE)
  set(PX46_LIBRARY_DIR lib/${CMAKE_LIBRARY_ARCHITECTURE})
else()
  set(PX46_LIBRARY_DIR lib)
endif()
set(PX46_PLUGIN_INSTALL_DIR ${PX46_LIBRARY_DIR}/px46tr_k)
set(PX46_HOST_LIBRARY_INSTALL_DIR ${PX46_LIBRARY_DIR}/smd-host)

# Installed programs find their libraries relative to themselves, so any prefix works.
file(RELATIVE_PATH plugin_dir_from_bin ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_PREFIX}/${PX46_PLUGIN_INSTALL_DIR})
file(RELATIVE_PATH host_library_dir_from_bin ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_PREFIX}/${PX46_HOST_LIBRARY_INSTALL_DIR})
set_target_properties(smd-host px46tr_k-sim PROPERTIES INSTALL_RPATH "$ORIGIN/${host_library_dir_from_bin}")
target_compile_definitions(smd-host PRIVATE PX46_PLUGIN_DIR_FROM_BIN="${plugin_dir_from_bin}")
# The live page's files, found by the runner relative to itself as well.
set(PX46_PAGE_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/${PX46_PACKAGE_NAME}/web)
file(RELATIVE_PATH page_dir_from_bin ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_PREFIX}/${PX46_PAGE_INSTALL_DIR})
target_compile_definitions(smd_host_page PRIVATE PX46_WEB_DIR_FROM_BIN="${page_dir_from_bin}")

install(TARGETS smd-host px46tr_k-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS px46tr_k LIBRARY DESTINATION ${PX46_PLUGIN_INSTALL_DIR})
install(TARGETS smdhost LIBRARY DESTINATION ${PX46_HOST_LIBRARY_INSTALL_DIR})
install(DIRECTORY tools/smd_host/web/page/ DESTINATION ${PX46_PAGE_INSTALL_DIR})
install(FILES README.md CONTRIBUTING.md debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# The changelog kept in debian/changelog, compressed as Debian ships it. Its latest entry is the
# version being built: a release bumps both.
file(STRINGS debian/changelog latest_entry LIMIT_COUNT 1)
if(NOT latest_entry MATCHES "^${PX46_PACKAGE_NAME} \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "the latest entry of debian/changelog must be version ${PROJECT_VERSION}, the "
                      "version in project()")
endif()
set(changelog ${CMAKE_BINARY_DIR}/doc/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/debian/changelog > ${changelog}
  DEPENDS ${PROJECT_SOURCE_DIR}/debian/changelog
  COMMENT "Compressed changelog")
add_custom_target(changelog ALL DEPENDS ${changelog})
install(FILES ${changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR})
