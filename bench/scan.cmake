# tarnixctl scan: steps per second with one read in flight and pipelined.
add_executable(bench_scan scan.cpp)
target_compile_definitions(bench_scan PRIVATE TARNIXCTL_EXE="$<TARGET_FILE:tarnixctl>")
target_link_libraries(bench_scan PRIVATE tarnix_sim Qt6::Network tarnix_options)
add_dependencies(bench_scan tarnixctl)
