# korvan-efis's autopilot in a closed loop with korvan-sim's flight model.
add_executable(efis-autopilot-tests ${CMAKE_CURRENT_LIST_DIR}/efis_autopilot_test.cpp)
target_link_libraries(efis-autopilot-tests PRIVATE korvan_efis_panel korvan_sim_core
                                                   GTest::gtest_main)
gtest_discover_tests(efis-autopilot-tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS unit)
