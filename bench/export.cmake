# Metrics and the report stream: a scrape of every source, and their cost on listen and record
# under the fastest flood.
add_executable(bench_export export.cpp)
target_compile_definitions(bench_export PRIVATE TARNIXCTL_EXE="$<TARGET_FILE:tarnixctl>")
target_link_libraries(bench_export PRIVATE tarnix_export tarnix_sim Qt6::Network PkgConfig::ZMQ tarnix_options)
add_dependencies(bench_export tarnixctl)
