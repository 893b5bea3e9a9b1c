# The portable toolkit on the headless backend.
add_executable(toolkit-unit-tests ${CMAKE_CURRENT_LIST_DIR}/toolkit_test.cpp)
target_link_libraries(toolkit-unit-tests PRIVATE korvan_toolkit_null korvan_platform GTest::gtest_main)
gtest_discover_tests(toolkit-unit-tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS unit)
