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
