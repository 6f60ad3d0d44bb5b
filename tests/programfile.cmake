# Program files: the record codec, the rebuild of the program table, and the window's File group.
tarnix_add_test(tst_programfile SOURCES tst_programfile.cpp LIBS tarnix_app)
