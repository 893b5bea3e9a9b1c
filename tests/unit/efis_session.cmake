# korvan-efis's panel session: the panel from recorded frames alone, the replay, the keys.
# korvan-efis runs on Linux only, so do its panel's tests.
if(NOT WIN32)
  add_executable(efis-session-tests ${CMAKE_CURRENT_LIST_DIR}/efis_session_test.cpp)
  target_link_libraries(efis-session-tests PRIVATE korvan_efis_panel GTest::gtest_main)
  target_compile_definitions(efis-session-tests PRIVATE
    KORVAN_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data")
  gtest_discover_tests(efis-session-tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS unit)
endif()

# The same recording through the program (Linux only, as korvan-efis): korvan-efis --replay
# prints what its panel shows.
if(NOT WIN32)
  add_test(NAME efis-replay-panel
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/efis_replay_check.sh $<TARGET_FILE:korvan-efis>
                   ${PROJECT_SOURCE_DIR}/tests/data/efis-frames.rec)
  set_tests_properties(efis-replay-panel PROPERTIES LABELS unit TIMEOUT 60)
endif()
