# Windows only: the EFIS channels of the real Win32 backend over message-mode named pipes,
# SetupAPI's check of the record sizes and a killed unit's interface, run under Wine by the
# cross-compiling emulator.
if(WIN32)
  add_executable(efis-wine-tests ${CMAKE_CURRENT_LIST_DIR}/efis_wine_test.cpp)
  target_include_directories(efis-wine-tests PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(efis-wine-tests PRIVATE korvan_efis korvan_efis_check korvan_test_unit
                        korvan_test_support korvan_toolkit_null korvan_platform GTest::gtest_main)
  target_compile_definitions(efis-wine-tests PRIVATE KORVAN_EFIS_EXE="$<TARGET_FILE:korvan-efis>")
  add_dependencies(efis-wine-tests korvan-efis)
  # One of them finds no EFIS: not while other tests publish their unit, which they do under
  # this lock.
  gtest_discover_tests(efis-wine-tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS wine TIMEOUT 120
                       RESOURCE_LOCK korvan-wine-sim-window)
endif()
