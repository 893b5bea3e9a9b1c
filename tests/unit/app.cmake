# The tick fault report of the bridge cycle.
if(TARGET korvan_app)
  add_executable(app_tick_faults_test ${CMAKE_CURRENT_LIST_DIR}/app_tick_faults_test.cpp
                                      ${PROJECT_SOURCE_DIR}/app/TickFaults.cpp)
  target_include_directories(app_tick_faults_test PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(app_tick_faults_test PRIVATE GTest::gtest_main)
  gtest_discover_tests(app_tick_faults_test PROPERTIES LABELS unit)
endif()
