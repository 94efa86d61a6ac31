# Run by CPack after it has laid out the package's files, before it packs them: what only the
# package installs to run the runner as a service. `cmake --install` leaves these out: the unit
# names the runner in /usr/bin, and the user it runs as is made by the package's postinst.
# - the template unit smd-host@.service, which runs /etc/smd-host/NAME.yaml as smd-host@NAME;
# - the user smd-host, declared for systemd-sysusers;
# - the empty folder of the site files, /etc/smd-host (no site file: nothing polls until a site
#   writes one and enables its instance).
# Copied rather than installed: file(INSTALL) would put them under DESTDIR, which CPack sets.
set(root ${CPACK_TEMPORARY_DIRECTORY})
file(MAKE_DIRECTORY ${root}/usr/lib/systemd/system ${root}/usr/lib/sysusers.d ${root}/etc/smd-host)
set(unit ${root}/usr/lib/systemd/system/smd-host@.service)
set(sysusers ${root}/usr/lib/sysusers.d/${CPACK_DEBIAN_PACKAGE_NAME}.conf)
file(COPY_FILE ${CPACK_PX46_SERVICE_UNIT} ${unit})
file(COPY_FILE ${CPACK_PX46_SYSUSERS} ${sysusers})
file(CHMOD ${unit} ${sysusers} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(CHMOD ${root}/etc ${root}/etc/smd-host ${root}/usr/lib/systemd ${root}/usr/lib/systemd/system
     ${root}/usr/lib/sysusers.d DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
     GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
