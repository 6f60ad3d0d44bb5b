add_executable(bench_roundtrip ${CMAKE_CURRENT_LIST_DIR}/roundtrip.cpp)
target_link_libraries(bench_roundtrip PRIVATE tarnix_app tarnix_sim tarnix_options)

add_executable(bench_datafile ${CMAKE_CURRENT_LIST_DIR}/roundtrip_datafile.cpp)
target_link_libraries(bench_datafile PRIVATE tarnix_interactive tarnix_options)
