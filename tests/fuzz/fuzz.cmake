# Fuzz targets of the program model and of the command stream. Each is always built as a replay test over its seed
# corpus (corpus/<target>/); with TARNIX_FUZZ=ON (configure with CC=clang CXX=clang++) it is
# also built as a libFuzzer executable of the same name as the target.
set(TARNIX_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})

if(TARNIX_FUZZ AND NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "TARNIX_FUZZ needs clang (configure with CC=clang CXX=clang++)")
endif()

function(tarnix_add_fuzz_target target replay_test lib)
    tarnix_add_test(${replay_test}
        SOURCES ${TARNIX_FUZZ_DIR}/${target}.cpp ${TARNIX_FUZZ_DIR}/replay.cpp ${TARNIX_FUZZ_DIR}/fuzzcheck.h
        LIBS ${lib})
    target_include_directories(${replay_test} PRIVATE ${TARNIX_FUZZ_DIR})
    target_compile_definitions(${replay_test} PRIVATE TARNIX_FUZZ_CORPUS="${TARNIX_FUZZ_DIR}/corpus/${target}")

    if(TARNIX_FUZZ)
        # The code under test is compiled into the fuzzer so that it carries coverage.
        # The thread class needs moc and stays out: the plain code it calls is all there.
        get_target_property(program_dir ${lib} SOURCE_DIR)
        get_target_property(program_sources ${lib} SOURCES)
        list(FILTER program_sources INCLUDE REGEX "\\.cpp$")
        list(FILTER program_sources EXCLUDE REGEX "tcpthread(_[a-z]+)?\\.cpp$")
        list(TRANSFORM program_sources PREPEND "${program_dir}/")
        if(NOT lib STREQUAL "tarnix_transport")
            list(APPEND program_sources ${PROJECT_SOURCE_DIR}/transport/modeword.cpp)
        endif()
        add_executable(${target} ${TARNIX_FUZZ_DIR}/${target}.cpp ${program_sources})
        set_target_properties(${target} PROPERTIES AUTOMOC OFF AUTOUIC OFF)
        target_include_directories(${target} PRIVATE ${TARNIX_FUZZ_DIR} ${program_dir}
            ${PROJECT_SOURCE_DIR}/transport)
        target_compile_options(${target} PRIVATE
            -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
        target_link_options(${target} PRIVATE -fsanitize=fuzzer,address,undefined)
        find_package(yaml-cpp REQUIRED)
        target_link_libraries(${target} PRIVATE Qt6::Core tarnix_options yaml-cpp)
    endif()
endfunction()

tarnix_add_fuzz_target(fuzz_records tst_program_fuzzreplay tarnix_program)
tarnix_add_fuzz_target(fuzz_datatext tst_datatext_fuzzreplay tarnix_program)
tarnix_add_fuzz_target(fuzz_stream tst_stream_fuzzreplay tarnix_transport)
tarnix_add_fuzz_target(fuzz_programfile tst_programfile_fuzzreplay tarnix_program)
tarnix_add_fuzz_target(fuzz_programtext tst_programtext_fuzzreplay tarnix_program)
# The program text target reads the text itself too, to count what it lists.
find_package(yaml-cpp REQUIRED)
target_link_libraries(tst_programtext_fuzzreplay PRIVATE yaml-cpp)
