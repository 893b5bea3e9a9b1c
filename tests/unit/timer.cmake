# The frame timer on the headless toolkit, with a clock set by the tests.
add_executable(frame-timer-unit-tests ${CMAKE_CURRENT_LIST_DIR}/frame_timer_test.cpp)
target_link_libraries(frame-timer-unit-tests PRIVATE korvan_timer korvan_toolkit_null korvan_platform
                      GTest::gtest_main)
gtest_discover_tests(frame-timer-unit-tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS unit)

if(NOT WIN32)
  add_executable(posix-clock-unit-tests ${CMAKE_CURRENT_LIST_DIR}/posix_clock_test.cpp)
  target_link_libraries(posix-clock-unit-tests PRIVATE korvan_platform GTest::gtest_main)
  gtest_discover_tests(posix-clock-unit-tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS unit)
endif()
