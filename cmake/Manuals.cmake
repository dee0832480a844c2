# qm_install_manual(<page> ...): installs manual pages kept in data/man, each
# compressed at build time (gzip -n, so the same page gives the same bytes)
# into man/man<section>.
function(qm_install_manual)
  foreach(page IN LISTS ARGN)
    set(source ${PROJECT_SOURCE_DIR}/data/man/${page})
    set(output ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.gz)
    string(REGEX MATCH "[0-9]$" section ${page})
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
      COMMAND gzip -9 -n -c ${source} > ${output}
      DEPENDS ${source} VERBATIM)
    string(MAKE_C_IDENTIFIER ${page} id)
    add_custom_target(manual_${id} ALL DEPENDS ${output})
    install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  endforeach()
endfunction()
