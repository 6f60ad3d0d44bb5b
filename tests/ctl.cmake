# tarnixctl, run as an executable against the software module.
tarnix_add_test(tst_ctl SOURCES tst_ctl.cpp LIBS tarnix_sim)
target_compile_definitions(tst_ctl PRIVATE TARNIXCTL_EXE="$<TARGET_FILE:tarnixctl>")
add_dependencies(tst_ctl tarnixctl)
