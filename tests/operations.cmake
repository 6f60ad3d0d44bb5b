# The window's report of its long work against the software module: the status bar's progress of
# settings jobs and downloads, and the Rates tab.
tarnix_add_test(tst_operations SOURCES tst_operations.cpp LIBS tarnix_app tarnix_sim)
