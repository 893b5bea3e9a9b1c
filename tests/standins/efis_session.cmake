# korvan-efis's panel session: the panel from recorded frames alone, the replay, the keys. Portable,
# as the panel of korvan-efis.exe is: on Windows under Wine too.
add_executable(efis-session-tests ${CMAKE_CURRENT_LIST_DIR}/efis_session_test.cpp)
target_link_libraries(efis-session-tests PRIVATE korvan_efis_panel GTest::gtest_main)
target_compile_definitions(efis-session-tests PRIVATE
  KORVAN_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data")
gtest_discover_tests(efis-session-tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS unit)

# The same recording through the program: korvan-efis --replay prints what its panel shows;
# korvan-efis.exe too, under Wine (it needs no device, so no lock).
if(WIN32)
  add_test(NAME efis-replay-panel
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/efis_replay_check.sh
                   ${PROJECT_SOURCE_DIR}/tests/data/efis-frames.rec
                   ${PROJECT_SOURCE_DIR}/tests/wine/wine-run.sh $<TARGET_FILE:korvan-efis>)
  set_tests_properties(efis-replay-panel PROPERTIES LABELS wine TIMEOUT 120)
else()
  add_test(NAME efis-replay-panel
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/efis_replay_check.sh
                   ${PROJECT_SOURCE_DIR}/tests/data/efis-frames.rec $<TARGET_FILE:korvan-efis>)
  set_tests_properties(efis-replay-panel PROPERTIES LABELS unit TIMEOUT 60)
endif()
