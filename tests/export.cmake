# Metrics and the report stream: the page's text, and tarnixctl against a real Prometheus server
# and a real ZeroMQ subscriber.
tarnix_add_test(tst_export SOURCES tst_export.cpp LIBS tarnix_export tarnix_sim tarnix_runs tarnix_app)
target_compile_definitions(tst_export PRIVATE TARNIXCTL_EXE="$<TARGET_FILE:tarnixctl>")
add_dependencies(tst_export tarnixctl)
target_link_libraries(tst_export PRIVATE PkgConfig::ZMQ)
