# The EFIS link on the POSIX backend against korvan-efis in another process.
if(NOT WIN32)
  add_executable(efis-integration-tests ${CMAKE_CURRENT_LIST_DIR}/efis_unit_test.cpp)
  target_include_directories(efis-integration-tests PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(efis-integration-tests PRIVATE korvan_efis korvan_toolkit_null
    korvan_platform korvan_test_support GTest::gtest_main)
  target_compile_definitions(efis-integration-tests PRIVATE
    KORVAN_EFIS_PATH="$<TARGET_FILE:korvan-efis>")
  add_dependencies(efis-integration-tests korvan-efis)
  gtest_discover_tests(efis-integration-tests DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS integration)
endif()
