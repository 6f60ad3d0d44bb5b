# tarnixctl run: 1,000 writes and 100 checked reads in one sequence, against the same accesses
# as separate tarnixctl calls.
add_executable(bench_sequence sequence.cpp)
target_compile_definitions(bench_sequence PRIVATE TARNIXCTL_EXE="$<TARGET_FILE:tarnixctl>")
target_link_libraries(bench_sequence PRIVATE tarnix_sim Qt6::Network tarnix_options)
add_dependencies(bench_sequence tarnixctl)
