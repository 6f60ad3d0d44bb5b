add_executable(bench_histfill ${CMAKE_CURRENT_LIST_DIR}/histfill.cpp)
target_link_libraries(bench_histfill PRIVATE tarnix_hist tarnix_transport tarnix_options)

# The chart library is looked at here only, for the redraw's comparison; the window does not use it.
find_package(Qt6 COMPONENTS Charts QUIET)
if(Qt6Charts_FOUND)
    add_executable(bench_histdraw ${CMAKE_CURRENT_LIST_DIR}/histdraw.cpp)
    target_link_libraries(bench_histdraw PRIVATE tarnix_app Qt6::Charts tarnix_options)
endif()
