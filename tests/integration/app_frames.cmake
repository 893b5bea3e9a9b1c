# The bridge's frames between korvan-sim and korvan-efis: rates, the unit's panel, bad values.
if(NOT WIN32)
  add_executable(app_frames_test ${CMAKE_CURRENT_LIST_DIR}/app_frames_test.cpp)
  target_link_libraries(app_frames_test PRIVATE korvan_app korvan_toolkit_null korvan_platform
                                                korvan_platform_logfile korvan_test_support GTest::gtest_main)
  target_compile_definitions(app_frames_test PRIVATE KORVAN_SIM_PATH="$<TARGET_FILE:korvan-sim>"
                                                     KORVAN_EFIS_PATH="$<TARGET_FILE:korvan-efis>"
                             KORVAN_FIRST_CYCLE_FRAMES="${PROJECT_SOURCE_DIR}/tests/e2e/first_cycle_frames.txt")
  add_dependencies(app_frames_test korvan-sim korvan-efis)
  gtest_discover_tests(app_frames_test PROPERTIES LABELS integration DISCOVERY_TIMEOUT 30)
endif()
