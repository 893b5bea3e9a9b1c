# The bridge (headless window) between korvan-sim and korvan-efis under long-running faults:
# poisoned doubles, a thousand reconnects of each link (Linux).
if(NOT WIN32)
  add_executable(app_faults_test ${CMAKE_CURRENT_LIST_DIR}/app_faults_test.cpp)
  target_link_libraries(app_faults_test PRIVATE korvan_app korvan_toolkit_null korvan_platform
                                                korvan_platform_logfile korvan_test_support GTest::gtest_main)
  target_compile_definitions(app_faults_test PRIVATE KORVAN_SIM_PATH="$<TARGET_FILE:korvan-sim>"
                                                     KORVAN_EFIS_PATH="$<TARGET_FILE:korvan-efis>")
  add_dependencies(app_faults_test korvan-sim korvan-efis)
  gtest_discover_tests(app_faults_test PROPERTIES LABELS integration TIMEOUT 900
                       DISCOVERY_TIMEOUT 30)
endif()
