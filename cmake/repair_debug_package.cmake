# Run by CPack after it has written the packages: the debug-symbols package as Debian tools make it.
# CPack lists the files of that package in its md5sums under their absolute paths in the build
# folder, where dpkg and lintian expect paths inside the package, and gives it no documentation
# folder; this rewrites the sums relative to the package's root, links the folder to the main
# package's (which the debug package depends on, at the same version), and packs it again.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "-dbgsym_.*\\.ddeb$")
    continue()
  endif()
  set(root ${CPACK_TOPLEVEL_DIRECTORY}/dbgsym-repacked)
  file(REMOVE_RECURSE ${root})
  execute_process(COMMAND dpkg-deb -R ${package} ${root} COMMAND_ERROR_IS_FATAL ANY)
  file(STRINGS ${root}/DEBIAN/md5sums sums)
  set(relative_sums "")
  foreach(line IN LISTS sums)
    string(REGEX REPLACE "^([0-9a-f]+)  .*/(usr/lib/debug/.*)$" "\\1  \\2" line "${line}")
    string(APPEND relative_sums "${line}\n")
  endforeach()
  file(WRITE ${root}/DEBIAN/md5sums "${relative_sums}")
  file(MAKE_DIRECTORY ${root}/usr/share/doc)
  file(CREATE_LINK ${CPACK_DEBIAN_PACKAGE_NAME} ${root}/usr/share/doc/${CPACK_DEBIAN_PACKAGE_NAME}-dbgsym SYMBOLIC)
  execute_process(COMMAND dpkg-deb --root-owner-group -b ${root} ${package}
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${root})
endforeach()
