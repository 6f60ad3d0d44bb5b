# The Python module's tests (pytest from Debian) against tarnix-sim, with the module from the
# build tree. A sanitizer build's module needs the AddressSanitizer runtime loaded before the
# interpreter starts; the interpreter's own allocations are not ours, so leaks are not looked for.
if(TARNIX_PYTHON)
    set(python_test_env
        "PYTHONPATH=$<TARGET_FILE_DIR:tarnix>"
        "TARNIX_SIM=$<TARGET_FILE:tarnix-sim>"
        "TARNIXCTL=$<TARGET_FILE:tarnixctl>"
        "PYTHONDONTWRITEBYTECODE=1")
    if(TARNIX_SANITIZE)
        # The C++ runtime comes along: the interpreter does not load it before the sanitizer's
        # start, and the sanitizer must find its exception thrower to intercept it.
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                        OUTPUT_VARIABLE asan_runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++.so
                        OUTPUT_VARIABLE cxx_runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
        list(APPEND python_test_env "LD_PRELOAD=${asan_runtime}:${cxx_runtime}" "ASAN_OPTIONS=detect_leaks=0")
    endif()
    add_test(NAME python_tarnix
             COMMAND ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider ${CMAKE_CURRENT_SOURCE_DIR}/python)
    set_tests_properties(python_tarnix PROPERTIES ENVIRONMENT "${python_test_env}" TIMEOUT 300)
endif()
