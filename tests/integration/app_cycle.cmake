# The bridge cycle and the main window against korvan-sim in another process (Linux).
if(NOT WIN32)
  add_executable(app_cycle_test ${CMAKE_CURRENT_LIST_DIR}/app_cycle_test.cpp)
  target_link_libraries(app_cycle_test PRIVATE korvan_app korvan_toolkit_null korvan_platform
                                               korvan_platform_logfile korvan_test_support GTest::gtest_main)
  target_compile_definitions(app_cycle_test PRIVATE KORVAN_SIM_PATH="$<TARGET_FILE:korvan-sim>"
                                                    KORVAN_EFIS_PATH="$<TARGET_FILE:korvan-efis>")
  add_dependencies(app_cycle_test korvan-sim korvan-efis)
  gtest_discover_tests(app_cycle_test PROPERTIES LABELS integration DISCOVERY_TIMEOUT 30)
endif()

# The running cycle allocates nothing (its own binary: it replaces the global allocator).
if(NOT WIN32)
  add_executable(app_no_alloc_test ${CMAKE_CURRENT_LIST_DIR}/app_no_alloc_test.cpp)
  target_link_libraries(app_no_alloc_test PRIVATE korvan_app korvan_toolkit_null korvan_platform
                                                  korvan_platform_logfile korvan_test_support GTest::gtest_main)
  target_compile_definitions(app_no_alloc_test PRIVATE
    KORVAN_SIM_PATH="$<TARGET_FILE:korvan-sim>" KORVAN_EFIS_PATH="$<TARGET_FILE:korvan-efis>")
  add_dependencies(app_no_alloc_test korvan-sim korvan-efis)
  gtest_discover_tests(app_no_alloc_test PROPERTIES LABELS integration DISCOVERY_TIMEOUT 30)
endif()
