# Set-up sequences: the reader's refusals, and tarnixctl run against the software module.
tarnix_add_test(tst_sequence SOURCES tst_sequence.cpp LIBS tarnix_client tarnix_sim)
target_compile_definitions(tst_sequence PRIVATE TARNIXCTL_EXE="$<TARGET_FILE:tarnixctl>")
add_dependencies(tst_sequence tarnixctl)

# The window runs the same sequence through its own workers.
tarnix_add_test(tst_sequencewindow SOURCES tst_sequencewindow.cpp LIBS tarnix_app tarnix_sim)
target_compile_definitions(tst_sequencewindow PRIVATE TARNIXCTL_EXE="$<TARGET_FILE:tarnixctl>")
add_dependencies(tst_sequencewindow tarnixctl)
