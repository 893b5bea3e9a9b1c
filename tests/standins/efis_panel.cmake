# korvan-efis's own reading of the frames, behind its panel line.
add_executable(efis-panel-unit-tests ${CMAKE_CURRENT_LIST_DIR}/efis_panel_test.cpp)
target_link_libraries(efis-panel-unit-tests PRIVATE korvan_efis_check GTest::gtest_main)
gtest_discover_tests(efis-panel-unit-tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS unit)
