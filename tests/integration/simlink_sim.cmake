# What the simulator link meets on POSIX alone (its connections, its namespace) and the
# copy-back under the address sanitizer, against korvan-sim in another process.
if(NOT WIN32)
  add_executable(simlink-sim-tests
    ${CMAKE_CURRENT_LIST_DIR}/simlink_hostile_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/simlink_faults_test.cpp)
  target_link_libraries(simlink-sim-tests PRIVATE
    korvan_simlink korvan_ipc_backend korvan_platform korvan_test_support GTest::gtest_main)
  target_compile_definitions(simlink-sim-tests PRIVATE KORVAN_SIM_PROGRAM="$<TARGET_FILE:korvan-sim>")
  add_dependencies(simlink-sim-tests korvan-sim)
  gtest_discover_tests(simlink-sim-tests PROPERTIES LABELS integration TIMEOUT 120)
endif()
