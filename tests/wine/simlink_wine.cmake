# Windows only: the simulator link against korvan-sim.exe in another process, run under Wine by
# the cross-compiling emulator.
if(WIN32)
  add_executable(simlink-wine-tests ${CMAKE_CURRENT_LIST_DIR}/simlink_wine_test.cpp)
  target_link_libraries(simlink-wine-tests PRIVATE korvan_simlink korvan_platform
                        korvan_test_support GTest::gtest_main)
  target_compile_definitions(simlink-wine-tests PRIVATE
                             KORVAN_SIM_EXE="$<TARGET_FILE:korvan-sim>")
  add_dependencies(simlink-wine-tests korvan-sim)
  # The module's window classes are global to the Wine prefix: tests that own or look for
  # them run one at a time.
  gtest_discover_tests(simlink-wine-tests DISCOVERY_MODE PRE_TEST
                       PROPERTIES LABELS wine TIMEOUT 120 RESOURCE_LOCK korvan-wine-sim-window)
endif()
