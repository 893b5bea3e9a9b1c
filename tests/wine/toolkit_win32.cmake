# The Win32 toolkit backend under Wine: a demonstration window read back from another process,
# the loop's timed wait and the window on a monitor of another DPI. The programs that make
# windows carry the bridge's manifest, so they get what it gets (Common Controls 6).
if(WIN32)
  set(korvan_manifest_rc ${PROJECT_SOURCE_DIR}/app/korvan-bridge.rc)
  set_source_files_properties(${korvan_manifest_rc} PROPERTIES OBJECT_DEPENDS
                              ${PROJECT_SOURCE_DIR}/app/korvan-bridge.manifest)
  add_executable(toolkit-win32-demo WIN32 ${CMAKE_CURRENT_LIST_DIR}/toolkit_win32_demo.cpp
                                          ${korvan_manifest_rc})
  target_link_libraries(toolkit-win32-demo PRIVATE korvan_toolkit_native korvan_platform)
  add_executable(toolkit-win32-check ${CMAKE_CURRENT_LIST_DIR}/toolkit_win32_check.cpp)
  target_include_directories(toolkit-win32-check PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(toolkit-win32-check PRIVATE user32 gdi32 comctl32)
  add_dependencies(toolkit-win32-check toolkit-win32-demo)
  add_test(NAME toolkit-win32-window COMMAND toolkit-win32-check)
  set_tests_properties(toolkit-win32-window PROPERTIES LABELS wine TIMEOUT 120)

  add_executable(toolkit-win32-tests ${CMAKE_CURRENT_LIST_DIR}/toolkit_win32_wait_test.cpp
                                     ${CMAKE_CURRENT_LIST_DIR}/toolkit_win32_dpi_test.cpp
                                     ${korvan_manifest_rc})
  target_link_libraries(toolkit-win32-tests PRIVATE korvan_toolkit_native korvan_platform
                                                    GTest::gtest_main)
  gtest_discover_tests(toolkit-win32-tests DISCOVERY_MODE PRE_TEST
                       PROPERTIES LABELS wine TIMEOUT 120)
endif()
