add_executable(bench_histfill ${CMAKE_CURRENT_LIST_DIR}/histfill.cpp)
target_link_libraries(bench_histfill PRIVATE tarnix_hist tarnix_transport tarnix_options)

# The redraw, and beside it the chart library's when it can be found (it needs Qt's OpenGL module's
# development files); the window does not use it.
add_executable(bench_histdraw ${CMAKE_CURRENT_LIST_DIR}/histdraw.cpp)
target_link_libraries(bench_histdraw PRIVATE tarnix_app tarnix_options)
find_package(Qt6Charts QUIET)
if(Qt6Charts_FOUND)
    target_link_libraries(bench_histdraw PRIVATE Qt6::Charts)
    target_compile_definitions(bench_histdraw PRIVATE TARNIX_BENCH_CHARTS)
endif()
