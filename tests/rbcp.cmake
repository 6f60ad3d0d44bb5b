# RBCP client, the network core's settings block and the UDP worker.
tarnix_add_test(tst_rbcp SOURCES tst_rbcp.cpp LIBS tarnix_rbcp)
