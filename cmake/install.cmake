# make install (PREFIX, DESTDIR): the programs, the manual pages, and the
# example site with the cron, systemd and logrotate examples as documentation.
include(GNUInstallDirs)

# A package build names the build date itself (reproducible builds).
set(TW_BUILD_STAMP "" CACHE STRING "Build date and time shown in the banner (default: the compiler's)")
if(TW_BUILD_STAMP)
  target_compile_definitions(tarnwick PRIVATE TW_BUILD_STAMP="${TW_BUILD_STAMP}")
endif()

set(TW_PROGRAMS tarnwick)
set(TW_MAN1 man/tarnwick.1)
if(TARGET tarnwick-dump)
  list(APPEND TW_PROGRAMS tarnwick-dump)
  list(APPEND TW_MAN1 man/tarnwick-dump.1)
endif()
if(TARGET tarnwick-soup)
  list(APPEND TW_PROGRAMS tarnwick-soup)
  list(APPEND TW_MAN1 man/tarnwick-soup.1)
endif()
install(TARGETS ${TW_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# What an install needs built, and nothing more (tests stay unbuilt).
add_custom_target(tw_install_programs DEPENDS ${TW_PROGRAMS})

install(FILES ${TW_MAN1} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES man/tarnwick.cfg.5 man/tarnwick-list.5 DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY examples/site/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples/site)
install(FILES examples/system/tarnwick.cron examples/system/tarnwick.service examples/system/tarnwick.timer
              examples/system/tarnwick.logrotate
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# The manual pages lint clean and document every keyword of the example site.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_FOUND)
  add_test(NAME docs.man_keywords
           COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/docs/man_pages.py keywords ${CMAKE_SOURCE_DIR})
  add_test(NAME docs.man_lint
           COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/docs/man_pages.py lint ${CMAKE_SOURCE_DIR})
  set_tests_properties(docs.man_lint PROPERTIES SKIP_RETURN_CODE 77)
endif()
