add_executable(bench_framing ${CMAKE_CURRENT_LIST_DIR}/framing.cpp)
target_link_libraries(bench_framing PRIVATE tarnix_transport tarnix_options)

add_executable(bench_flood ${CMAKE_CURRENT_LIST_DIR}/flood.cpp)
target_link_libraries(bench_flood PRIVATE tarnix_app tarnix_sim tarnix_options)
