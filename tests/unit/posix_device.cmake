# What the POSIX device backend alone has: its files, the open's answer byte, its error codes.
if(NOT WIN32)
  add_executable(posix-device-unit-tests ${CMAKE_CURRENT_LIST_DIR}/posix_device_test.cpp)
  target_include_directories(posix-device-unit-tests PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(posix-device-unit-tests PRIVATE korvan_test_unit korvan_platform korvan_test_support
    GTest::gtest_main)
  gtest_discover_tests(posix-device-unit-tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS unit)
endif()
