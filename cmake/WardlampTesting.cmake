# Test registration helpers. Every test runs with a timeout and a label; the
# support library gives each test its own temporary HOME and XDG directories.

set(WL_TEST_TIMEOUT 300 CACHE STRING "Per-test timeout in seconds")

# wl_add_qt_test(<name> SOURCES ... LIBS ... LABELS ... [TIMEOUT s] [ENVIRONMENT ...])
# Builds a QtTest executable and registers it with CTest.
function(wl_add_qt_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS;ENVIRONMENT" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test wl_testsupport ${ARG_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT ${WL_TEST_TIMEOUT})
    endif()
    if(NOT ARG_LABELS)
        set(ARG_LABELS unit)
    endif()
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${ARG_TIMEOUT}
        LABELS "${ARG_LABELS}"
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;WL_TEST_BIN_DIR=${CMAKE_BINARY_DIR}/bin;${ARG_ENVIRONMENT}")
endfunction()

# wl_add_gtest(<name> SOURCES ... LIBS ... LABELS ... [TIMEOUT s])
# Builds a GoogleTest executable registered as one CTest test (no discovery at build time).
function(wl_add_gtest name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS;ENVIRONMENT" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main ${ARG_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT ${WL_TEST_TIMEOUT})
    endif()
    if(NOT ARG_LABELS)
        set(ARG_LABELS unit)
    endif()
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${ARG_TIMEOUT}
        LABELS "${ARG_LABELS}"
        ENVIRONMENT "WL_TEST_BIN_DIR=${CMAKE_BINARY_DIR}/bin;${ARG_ENVIRONMENT}")
endfunction()
