# The tick fault report of the bridge cycle.
add_executable(app_tick_faults_test ${CMAKE_CURRENT_LIST_DIR}/app_tick_faults_test.cpp)
target_link_libraries(app_tick_faults_test PRIVATE korvan_app GTest::gtest_main)
gtest_discover_tests(app_tick_faults_test PROPERTIES LABELS unit)
