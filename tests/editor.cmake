# The program editor: its checks and commit without widgets, and the dialog with its cell editors.
tarnix_add_test(tst_editorcheck SOURCES tst_editorcheck.cpp LIBS tarnix_program)
tarnix_add_test(tst_editor SOURCES tst_editor.cpp LIBS tarnix_editor)
