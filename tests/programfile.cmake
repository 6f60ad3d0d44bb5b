# Program files: the record codec, the rebuild of the program table, and their fuzz target.
tarnix_add_test(tst_programfile SOURCES tst_programfile.cpp LIBS tarnix_program)
