# Software module tests, and blocking test peers that other tests may use to talk to it.
add_library(tarnix_simsupport STATIC simsupport/simprobe.h simsupport/simprobe.cpp)
target_include_directories(tarnix_simsupport PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/simsupport)
target_link_libraries(tarnix_simsupport PUBLIC tarnix_sim Qt6::Network tarnix_options)

tarnix_add_test(tst_sim SOURCES tst_sim.cpp LIBS tarnix_sim tarnix_simsupport)
target_compile_definitions(tst_sim PRIVATE TARNIX_SIM_EXE="$<TARGET_FILE:tarnix-sim>")
add_dependencies(tst_sim tarnix-sim)
