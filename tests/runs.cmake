# Run files: the format, the reader on cut and damaged files, the decode formats, and the
# window's recording and replay against the software module.
tarnix_add_test(tst_runs SOURCES tst_runs.cpp LIBS tarnix_app tarnix_runs tarnix_sim)

# tarnixctl record, decode and run-info as executables, tarnix-sim's replay, and tshark with the
# dissector in docs/ (skipped when tshark is missing).
tarnix_add_test(tst_runsctl SOURCES tst_runsctl.cpp LIBS tarnix_sim tarnix_runs)
target_compile_definitions(tst_runsctl PRIVATE TARNIXCTL_EXE="$<TARGET_FILE:tarnixctl>"
    TARNIX_DISSECTOR="${CMAKE_SOURCE_DIR}/docs/tarnix-reports.lua")
add_dependencies(tst_runsctl tarnixctl)

# The run file parser's fuzz target, replayed over its seed corpus in every build; with
# TARNIX_FUZZ=ON also a libFuzzer executable (the parser's plain code compiled in for coverage).
tarnix_add_test(tst_runfile_fuzzreplay
    SOURCES ${TARNIX_FUZZ_DIR}/fuzz_runfile.cpp ${TARNIX_FUZZ_DIR}/replay.cpp ${TARNIX_FUZZ_DIR}/fuzzcheck.h
    LIBS tarnix_runs)
target_include_directories(tst_runfile_fuzzreplay PRIVATE ${TARNIX_FUZZ_DIR})
target_compile_definitions(tst_runfile_fuzzreplay PRIVATE TARNIX_FUZZ_CORPUS="${TARNIX_FUZZ_DIR}/corpus/fuzz_runfile")
if(TARNIX_FUZZ)
    add_executable(fuzz_runfile ${TARNIX_FUZZ_DIR}/fuzz_runfile.cpp
        ${PROJECT_SOURCE_DIR}/runs/runformat.cpp ${PROJECT_SOURCE_DIR}/runs/runreader.cpp
        ${PROJECT_SOURCE_DIR}/runs/runwriter.cpp ${PROJECT_SOURCE_DIR}/transport/packet.cpp
        ${PROJECT_SOURCE_DIR}/transport/modeword.cpp)
    set_target_properties(fuzz_runfile PROPERTIES AUTOMOC OFF AUTOUIC OFF)
    target_include_directories(fuzz_runfile PRIVATE ${TARNIX_FUZZ_DIR} ${PROJECT_SOURCE_DIR}/runs
        ${PROJECT_SOURCE_DIR}/transport)
    target_compile_options(fuzz_runfile PRIVATE
        -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(fuzz_runfile PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(fuzz_runfile PRIVATE Qt6::Core tarnix_options)
endif()
