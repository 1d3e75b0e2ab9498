# `cmake --install`: the programs, a manual page for each and the bash
# completions, in the GNU layout (bin/, share/man/man1/,
# share/bash-completion/completions/ below the prefix).
include(GNUInstallDirs)

set(VELMO_INSTALLED_PROGRAMS velmo-fetch velmo-publish)
if(TARGET velmo-bootstrap)
  list(APPEND VELMO_INSTALLED_PROGRAMS velmo-bootstrap)
endif()
install(TARGETS ${VELMO_INSTALLED_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(VELMO_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
foreach(program ${VELMO_INSTALLED_PROGRAMS})
  install(FILES ${VELMO_PACKAGING_DIR}/man/${program}.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  if(EXISTS ${VELMO_PACKAGING_DIR}/bash-completion/${program})
    install(FILES ${VELMO_PACKAGING_DIR}/bash-completion/${program}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  endif()
endforeach()
