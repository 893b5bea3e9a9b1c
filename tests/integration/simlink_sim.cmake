# The real simulator link (POSIX backend) against korvan-sim in another process.
if(NOT WIN32)
  add_executable(simlink-sim-tests
    ${CMAKE_CURRENT_LIST_DIR}/simlink_sim_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/simlink_hostile_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/simlink_faults_test.cpp)
  target_link_libraries(simlink-sim-tests PRIVATE
    korvan_simlink korvan_platform korvan_test_support GTest::gtest_main)
  target_compile_definitions(simlink-sim-tests PRIVATE KORVAN_SIM_PATH="$<TARGET_FILE:korvan-sim>")
  add_dependencies(simlink-sim-tests korvan-sim)
  gtest_discover_tests(simlink-sim-tests DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS integration TIMEOUT 120)
endif()
