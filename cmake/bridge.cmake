# The SOUP bridge program and its tests.
add_subdirectory(${CMAKE_SOURCE_DIR}/src/bridge ${CMAKE_BINARY_DIR}/bridge)
add_subdirectory(${CMAKE_SOURCE_DIR}/tests/bridge ${CMAKE_BINARY_DIR}/tests-bridge)

include(GNUInstallDirs)
install(FILES examples/system/tarnwick-soup.cfg examples/system/tarnwick-cycle
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
