# korvan-efis's outputs to the bridge: the frames, their schedule, the keys, the options.
if(NOT WIN32)
  add_executable(efis-outputs-unit-tests ${CMAKE_CURRENT_LIST_DIR}/efis_outputs_test.cpp)
  target_link_libraries(efis-outputs-unit-tests PRIVATE korvan_efis_outputs GTest::gtest_main)
  gtest_discover_tests(efis-outputs-unit-tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS unit)
endif()
