add_executable(bench_download ${CMAKE_CURRENT_LIST_DIR}/download.cpp)
target_link_libraries(bench_download PRIVATE tarnix_app tarnix_sim tarnix_options)
