# RBCP client, the network core's settings block and the UDP worker: against a module played by
# the test (exact datagrams and broken replies) and against the software module.
tarnix_add_test(tst_rbcp SOURCES tst_rbcp.cpp LIBS tarnix_rbcp tarnix_simsupport)
