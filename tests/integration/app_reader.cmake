# The bridge cycle with the EFIS reader thread, between korvan-sim and korvan-efis (Linux).
if(NOT WIN32)
  # A test program of the cycle that starts both stand-ins; the rest of the arguments are extra
  # compile definitions.
  function(korvan_reader_test name)
    add_executable(${name} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${name}.cpp)
    target_link_libraries(${name} PRIVATE korvan_app korvan_toolkit_null korvan_platform
                                          korvan_platform_logfile korvan_test_support GTest::gtest_main)
    target_compile_definitions(${name} PRIVATE KORVAN_SIM_PATH="$<TARGET_FILE:korvan-sim>"
                               KORVAN_EFIS_PATH="$<TARGET_FILE:korvan-efis>" ${ARGN})
    add_dependencies(${name} korvan-sim korvan-efis)
    gtest_discover_tests(${name} PROPERTIES LABELS integration TIMEOUT 180 DISCOVERY_TIMEOUT 30)
  endfunction()

  korvan_reader_test(app_reader_test)
  # The reader and the cycle together for a while: 30 s in the ThreadSanitizer build (CI runs
  # it there, see scripts/test.sh), a short run elsewhere.
  if(KORVAN_SANITIZE STREQUAL "thread")
    korvan_reader_test(app_reader_stress_test KORVAN_STRESS_SECONDS=30)
  else()
    korvan_reader_test(app_reader_stress_test KORVAN_STRESS_SECONDS=5)
  endif()
endif()
