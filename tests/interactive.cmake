# The interactive tab: its text layouts and the tab with a fake window, and the tab inside the
# window against the software module.
tarnix_add_test(tst_interactive SOURCES tst_interactive.cpp LIBS tarnix_interactive)
tarnix_add_test(tst_interactive_sim SOURCES tst_interactive_sim.cpp LIBS tarnix_app tarnix_sim)
