# The Win32 toolkit backend under Wine: a demonstration window read back from another process,
# and the loop's timed wait.
if(WIN32)
  add_executable(toolkit-win32-demo WIN32 ${CMAKE_CURRENT_LIST_DIR}/toolkit_win32_demo.cpp)
  target_link_libraries(toolkit-win32-demo PRIVATE korvan_toolkit_native korvan_platform)
  add_executable(toolkit-win32-check ${CMAKE_CURRENT_LIST_DIR}/toolkit_win32_check.cpp)
  target_link_libraries(toolkit-win32-check PRIVATE user32 comctl32)
  add_dependencies(toolkit-win32-check toolkit-win32-demo)
  add_test(NAME toolkit-win32-window COMMAND toolkit-win32-check)
  set_tests_properties(toolkit-win32-window PROPERTIES LABELS wine TIMEOUT 120)

  add_executable(toolkit-win32-wait-tests ${CMAKE_CURRENT_LIST_DIR}/toolkit_win32_wait_test.cpp)
  target_link_libraries(toolkit-win32-wait-tests PRIVATE korvan_toolkit_native korvan_platform
                                                         GTest::gtest_main)
  gtest_discover_tests(toolkit-win32-wait-tests DISCOVERY_MODE PRE_TEST
                       PROPERTIES LABELS wine TIMEOUT 120)
endif()
