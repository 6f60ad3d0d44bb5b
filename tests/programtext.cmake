# Program texts: the worked examples through text and back, refusals with their place, and the
# window opening a text file.
tarnix_add_test(tst_programtext SOURCES tst_programtext.cpp LIBS tarnix_app)
