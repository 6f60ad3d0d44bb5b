# Run files: the format, the reader on cut and damaged files, the decode formats, and the
# window's recording and replay against the software module.
tarnix_add_test(tst_runs SOURCES tst_runs.cpp LIBS tarnix_app tarnix_runs tarnix_sim)
