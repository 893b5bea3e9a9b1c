# The bridge cycle with the EFIS reader thread, between korvan-sim and korvan-efis (Linux).
if(NOT WIN32 AND TARGET korvan_app AND TARGET korvan-sim AND TARGET korvan-efis)
  add_executable(app_reader_test ${CMAKE_CURRENT_LIST_DIR}/app_reader_test.cpp)
  target_link_libraries(app_reader_test PRIVATE korvan_app korvan_toolkit_null korvan_test_support
                                                GTest::gtest_main)
  target_compile_definitions(app_reader_test PRIVATE KORVAN_SIM_PATH="$<TARGET_FILE:korvan-sim>"
                                                     KORVAN_EFIS_PATH="$<TARGET_FILE:korvan-efis>")
  add_dependencies(app_reader_test korvan-sim korvan-efis)
  gtest_discover_tests(app_reader_test PROPERTIES LABELS integration TIMEOUT 120
                       DISCOVERY_TIMEOUT 30)
endif()

# The reader and the cycle together for a while: 30 s in the ThreadSanitizer build (CI runs it
# there, see scripts/test.sh), a short run elsewhere.
if(NOT WIN32 AND TARGET korvan_app AND TARGET korvan-sim AND TARGET korvan-efis)
  add_executable(app_reader_stress_test ${CMAKE_CURRENT_LIST_DIR}/app_reader_stress_test.cpp)
  target_link_libraries(app_reader_stress_test PRIVATE korvan_app korvan_toolkit_null
                                                       korvan_test_support GTest::gtest_main)
  if(KORVAN_SANITIZE STREQUAL "thread")
    set(korvan_stress_seconds 30)
  else()
    set(korvan_stress_seconds 5)
  endif()
  target_compile_definitions(app_reader_stress_test PRIVATE
    KORVAN_SIM_PATH="$<TARGET_FILE:korvan-sim>" KORVAN_EFIS_PATH="$<TARGET_FILE:korvan-efis>"
    KORVAN_STRESS_SECONDS=${korvan_stress_seconds})
  add_dependencies(app_reader_stress_test korvan-sim korvan-efis)
  gtest_discover_tests(app_reader_stress_test PROPERTIES LABELS integration TIMEOUT 180
                       DISCOVERY_TIMEOUT 30)
endif()
