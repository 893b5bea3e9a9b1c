# korvan-bridge.exe end to end under Wine, beside korvan-sim.exe and an EFIS unit that this test
# program serves and publishes through SetupAPI; and the exe's version resource and icon.
if(WIN32)
  add_executable(bridge-e2e-wine-tests ${CMAKE_CURRENT_LIST_DIR}/bridge_e2e_test.cpp)
  target_link_libraries(bridge-e2e-wine-tests PRIVATE korvan_test_unit korvan_efis_check
                        korvan_simlink korvan_platform korvan_test_support user32 comctl32 version
                        ntdll GTest::gtest_main)
  target_compile_definitions(bridge-e2e-wine-tests PRIVATE
    KORVAN_BRIDGE_EXE="$<TARGET_FILE:korvan-bridge>"
    KORVAN_SIM_EXE="$<TARGET_FILE:korvan-sim>"
    KORVAN_FIRST_CYCLE_FRAMES="${PROJECT_SOURCE_DIR}/tests/e2e/first_cycle_frames.txt")
  add_dependencies(bridge-e2e-wine-tests korvan-bridge korvan-sim)
  # The module's window classes and the unit's pipes are global to the Wine prefix; the one lock
  # keeps both to one test at a time (efis-wine-tests takes it too, as it wants no unit). So is
  # the user's Local AppData folder, which each test points at a folder of its own for the
  # bridge's log. The cost starts these long ones first, so the short ones fill the other slot
  # meanwhile. The hundred watchdog restarts (100 s) run in a Wine session of their own instead,
  # beside the others rather than in their line.
  set(watchdog "Classes/BridgeE2E.TheWatchdogRestartsTheSilentReaderWithTheHandlesFlat/UIPCMAIN")
  gtest_discover_tests(bridge-e2e-wine-tests DISCOVERY_MODE PRE_TEST TEST_FILTER "-${watchdog}"
                       PROPERTIES LABELS wine TIMEOUT 400 COST 1000
                                  RESOURCE_LOCK "korvan-wine-sim-window;korvan-wine-local-app-data")
  gtest_discover_tests(bridge-e2e-wine-tests DISCOVERY_MODE PRE_TEST TEST_FILTER "${watchdog}"
                       PROPERTIES LABELS wine TIMEOUT 400 COST 2000
                                  ENVIRONMENT KORVAN_WINE_SESSION=watchdog)
endif()
