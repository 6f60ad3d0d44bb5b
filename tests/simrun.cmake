# The software module running downloaded programs.
tarnix_add_test(tst_simrun SOURCES tst_simrun.cpp LIBS tarnix_sim tarnix_simsupport)
