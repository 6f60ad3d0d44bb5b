# Mode words and packets, the program model, instruction records and the data text formats of the
# program editor.
tarnix_add_test(tst_program SOURCES tst_program.cpp LIBS tarnix_transport tarnix_program)

include(${CMAKE_CURRENT_LIST_DIR}/fuzz/fuzz.cmake)
