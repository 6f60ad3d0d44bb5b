# The Python module against the C++ client on the same tarnix-sim: bench/python_module.py runs
# bench_readpeer for the C++ side of the read round trip.
if(TARNIX_PYTHON)
    add_executable(bench_readpeer readpeer.cpp)
    target_link_libraries(bench_readpeer PRIVATE tarnix_client tarnix_transport Qt6::Network tarnix_options)
endif()
