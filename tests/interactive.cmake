# The interactive tab: its text layouts, the tab with a fake window, and the tab inside the window
# against the software module.
tarnix_add_test(tst_interactive SOURCES tst_interactive.cpp LIBS tarnix_app tarnix_simsupport)
