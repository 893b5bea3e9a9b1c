# korvan-efis's outputs to the bridge: the frames, their schedule, the keys, the options.
if(NOT WIN32)
  add_executable(efis-outputs-unit-tests ${CMAKE_CURRENT_LIST_DIR}/efis_outputs_test.cpp
                                         ${PROJECT_SOURCE_DIR}/standins/efis/efis_outputs.cpp)
  target_include_directories(efis-outputs-unit-tests PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(efis-outputs-unit-tests PRIVATE korvan_standin_common GTest::gtest_main)
  gtest_discover_tests(efis-outputs-unit-tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS unit)
endif()
