# tarnixctl: a read's round trip on one connection, and listen's throughput from a report burst.
add_executable(bench_ctl ctl.cpp)
target_include_directories(bench_ctl PRIVATE ${CMAKE_SOURCE_DIR}/ctl)
target_compile_definitions(bench_ctl PRIVATE TARNIXCTL_EXE="$<TARGET_FILE:tarnixctl>")
target_link_libraries(bench_ctl PRIVATE tarnix_sim tarnix_client tarnix_transport Qt6::Network tarnix_options)
add_dependencies(bench_ctl tarnixctl)
