# Manual pages made from the programs' own --help and --version by help2man, at build time, with
# the synopsis, exit statuses, files, examples and references of man/PROGRAM.h2m.
find_program(HELP2MAN_EXECUTABLE help2man REQUIRED)

set(manual_pages)
foreach(program_and_name IN ITEMS "smd-host|stand-in host runner for the px46tr_k plug-in"
                                  "px46tr_k-sim|simulator of the px46tr_k monitoring unit on a Modbus line")
  string(REPLACE "|" ";" program_and_name "${program_and_name}")
  list(GET program_and_name 0 program)
  list(GET program_and_name 1 name)
  set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
  # Compressed as Debian ships manual pages, without a time stamp so that builds compare.
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${HELP2MAN_EXECUTABLE} --no-info --name=${name} --include=${PROJECT_SOURCE_DIR}/man/${program}.h2m
            --output=${page} $<TARGET_FILE:${program}>
    COMMAND gzip -9nf ${page}
    DEPENDS ${program} ${PROJECT_SOURCE_DIR}/man/${program}.h2m
    COMMENT "Manual page of ${program}"
    VERBATIM)
  list(APPEND manual_pages ${page}.gz)
endforeach()
add_custom_target(manual_pages ALL DEPENDS ${manual_pages})
install(FILES ${manual_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
