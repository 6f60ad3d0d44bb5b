# Run files: the format, the reader on cut and damaged files, the decode formats, and the
# window's recording and replay against the software module.
tarnix_add_test(tst_runs SOURCES tst_runs.cpp LIBS tarnix_app tarnix_runs tarnix_sim)

# tarnixctl record, decode and run-info as executables, tarnix-sim's replay, and tshark with the
# dissector in docs/ (skipped when tshark is missing).
tarnix_add_test(tst_runsctl SOURCES tst_runsctl.cpp LIBS tarnix_sim tarnix_runs)
target_compile_definitions(tst_runsctl PRIVATE TARNIXCTL_EXE="$<TARGET_FILE:tarnixctl>"
    TARNIX_DISSECTOR="${CMAKE_SOURCE_DIR}/docs/tarnix-reports.lua")
add_dependencies(tst_runsctl tarnixctl)
