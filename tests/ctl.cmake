# tarnixctl, run as an executable against the software module.
tarnix_add_test(tst_ctl SOURCES tst_ctl.cpp LIBS tarnix_sim tarnix_program)
target_compile_definitions(tst_ctl PRIVATE TARNIXCTL_EXE="$<TARGET_FILE:tarnixctl>")
add_dependencies(tst_ctl tarnixctl)

# The Debian package of the three programs: its file list and control fields.
add_test(NAME package COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/package_check.sh ${CMAKE_BINARY_DIR})
set_tests_properties(package PROPERTIES TIMEOUT 300)
