# Program texts: the worked examples through text and back, refusals and warnings with their place,
# texts of earlier releases (programtext/) building to their bytes, and the window opening a text file.
tarnix_add_test(tst_programtext SOURCES tst_programtext.cpp LIBS tarnix_app)
target_link_libraries(tst_programtext PRIVATE tarnix_sim)
target_compile_definitions(tst_programtext PRIVATE TARNIXCTL_EXE="$<TARGET_FILE:tarnixctl>"
    FIXTURES="${CMAKE_CURRENT_SOURCE_DIR}/programtext")
add_dependencies(tst_programtext tarnixctl)
