# korvan-efis's outputs to the bridge: the frames, their schedule, the keys, the options.
add_executable(efis-outputs-unit-tests ${CMAKE_CURRENT_LIST_DIR}/efis_outputs_test.cpp)
target_link_libraries(efis-outputs-unit-tests PRIVATE korvan_efis_outputs GTest::gtest_main)
if(WIN32)
  gtest_discover_tests(efis-outputs-unit-tests PROPERTIES LABELS wine TIMEOUT 120)
else()
  gtest_discover_tests(efis-outputs-unit-tests PROPERTIES LABELS unit)
endif()
