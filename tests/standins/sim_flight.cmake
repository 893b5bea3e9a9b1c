# korvan-sim's flight model and its options, without any IPC.
add_executable(sim-flight-tests ${CMAKE_CURRENT_LIST_DIR}/sim_flight_test.cpp)
target_link_libraries(sim-flight-tests PRIVATE korvan_sim_core GTest::gtest_main)
gtest_discover_tests(sim-flight-tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS unit)
