# korvan-sim's record walk, offset space, hostile rewrites and options, without any IPC.
add_executable(sim-exchange-tests ${CMAKE_CURRENT_LIST_DIR}/sim_exchange_test.cpp)
target_link_libraries(sim-exchange-tests PRIVATE korvan_sim_core GTest::gtest_main)
gtest_discover_tests(sim-exchange-tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS unit)
