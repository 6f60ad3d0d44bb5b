# Program table bookkeeping and the module memory layout; the download against the software module.
tarnix_add_test(tst_programtable SOURCES tst_programtable.cpp LIBS tarnix_program)
tarnix_add_test(tst_download SOURCES tst_download.cpp LIBS tarnix_app tarnix_sim)
