# Windows only: the EFIS reader thread over message-mode named pipes of a unit served by the
# test, its kill with TerminateThread, and the window's close, run under Wine by the
# cross-compiling emulator.
if(WIN32)
  add_executable(efis-reader-wine-tests ${CMAKE_CURRENT_LIST_DIR}/efis_reader_wine_test.cpp)
  target_link_libraries(efis-reader-wine-tests PRIVATE korvan_app korvan_test_unit
                        korvan_toolkit_null korvan_platform korvan_platform_logfile ntdll
                        GTest::gtest_main)
  gtest_discover_tests(efis-reader-wine-tests DISCOVERY_MODE PRE_TEST
                       PROPERTIES LABELS wine TIMEOUT 120)
endif()
