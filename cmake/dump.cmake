# tarnwick-dump, the read-only inspection tool installed beside the gateway.
# It sits above the libraries like the gateway itself and reuses their
# readers: FTN format, SOUP framing, the configuration, export's flow lines.
file(GLOB tw_dump_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/tools/dump_*.cpp)
add_executable(tarnwick-dump ${tw_dump_sources})
target_link_libraries(tarnwick-dump PRIVATE tw_export tw_soup tw_ftn tw_config)
set_target_properties(tarnwick-dump PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

target_compile_definitions(cli_tests PRIVATE TW_DUMP="$<TARGET_FILE:tarnwick-dump>")
add_dependencies(cli_tests tarnwick-dump)
