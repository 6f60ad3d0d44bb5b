# Software module tests, and blocking test peers that other tests may use to talk to it.
add_library(tarnix_simsupport STATIC simsupport/simprobe.h simsupport/simprobe.cpp)
target_include_directories(tarnix_simsupport PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/simsupport)
target_link_libraries(tarnix_simsupport PUBLIC tarnix_sim Qt6::Network tarnix_options)

tarnix_add_test(tst_simtcp SOURCES tst_simtcp.cpp LIBS tarnix_sim tarnix_simsupport)
tarnix_add_test(tst_simrbcp SOURCES tst_simrbcp.cpp LIBS tarnix_sim tarnix_simsupport)
tarnix_add_test(tst_simprocess SOURCES tst_simprocess.cpp LIBS tarnix_sim tarnix_simsupport)
target_compile_definitions(tst_simprocess PRIVATE TARNIX_SIM_EXE="$<TARGET_FILE:tarnix-sim>")
add_dependencies(tst_simprocess tarnix-sim)
