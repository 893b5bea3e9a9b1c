# The one-copy claim, on the platform backend of each build.
add_executable(platform-instance-tests ${CMAKE_CURRENT_LIST_DIR}/instance_test.cpp)
target_link_libraries(platform-instance-tests PRIVATE korvan_platform korvan_test_support
                                                      GTest::gtest_main)
gtest_discover_tests(platform-instance-tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS unit)
