# The tick fault report of the bridge cycle.
add_executable(app_tick_faults_test ${CMAKE_CURRENT_LIST_DIR}/app_tick_faults_test.cpp)
target_link_libraries(app_tick_faults_test PRIVATE korvan_app GTest::gtest_main)
gtest_discover_tests(app_tick_faults_test PROPERTIES LABELS unit)

# The log file, with the platform's real file calls in a folder of the test's own. On Windows
# that folder is the registry's for the whole Wine prefix: one such test at a time. On Linux a
# time zone that is not UTC, so that a stamp in UTC shows.
add_executable(app_log_file_test ${CMAKE_CURRENT_LIST_DIR}/app_log_file_test.cpp)
target_link_libraries(app_log_file_test PRIVATE korvan_app korvan_platform korvan_platform_logfile
                                                korvan_test_support GTest::gtest_main)
if(WIN32)
  gtest_discover_tests(app_log_file_test PROPERTIES LABELS unit
                       RESOURCE_LOCK korvan-wine-local-app-data)
else()
  gtest_discover_tests(app_log_file_test PROPERTIES LABELS unit ENVIRONMENT TZ=KRV-5:30)
endif()
