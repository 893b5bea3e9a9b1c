# The threads' events, on the platform backend of each build.
add_executable(platform-thread-tests ${CMAKE_CURRENT_LIST_DIR}/platform_thread_test.cpp)
target_link_libraries(platform-thread-tests PRIVATE korvan_platform GTest::gtest_main)
gtest_discover_tests(platform-thread-tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS unit)
