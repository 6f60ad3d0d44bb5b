# Run files: tarnixctl record against listen --raw and line rate, the window's recording, decode's
# formats, and a recorder killed mid-run.
add_executable(bench_runs runs.cpp)
target_include_directories(bench_runs PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
target_compile_definitions(bench_runs PRIVATE TARNIXCTL_EXE="$<TARGET_FILE:tarnixctl>")
target_link_libraries(bench_runs PRIVATE tarnix_app tarnix_runs tarnix_sim tarnix_options)
add_dependencies(bench_runs tarnixctl)
