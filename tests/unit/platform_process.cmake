# What the platform layer offers the process itself, on the backend of each build: the one-copy
# claim and the system's error texts.
add_executable(platform-process-tests ${CMAKE_CURRENT_LIST_DIR}/platform_process_test.cpp)
target_link_libraries(platform-process-tests PRIVATE korvan_platform korvan_test_support
                                                      GTest::gtest_main)
gtest_discover_tests(platform-process-tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS unit)
