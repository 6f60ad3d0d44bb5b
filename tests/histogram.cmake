# Histograms: filling, across connections to the software module, the tab, tarnixctl hist.
tarnix_add_test(tst_histogram SOURCES tst_histogram.cpp LIBS tarnix_app tarnix_hist tarnix_runs tarnix_sim)
target_compile_definitions(tst_histogram PRIVATE TARNIXCTL_EXE="$<TARGET_FILE:tarnixctl>")
add_dependencies(tst_histogram tarnixctl)
