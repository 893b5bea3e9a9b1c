# korvan-bridge.exe under Wine beside korvan-sim.exe, its window read back from another process:
# at 96 DPI in the shared prefix, and at 144 in a prefix of its own (wine-run.sh), where no other
# test runs.
if(WIN32)
  add_executable(bridge-window-check ${CMAKE_CURRENT_LIST_DIR}/bridge_window_check.cpp)
  target_include_directories(bridge-window-check PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(bridge-window-check PRIVATE korvan_test_support user32 gdi32 comctl32)
  add_dependencies(bridge-window-check korvan-bridge korvan-sim)
  add_test(NAME bridge-win32-window COMMAND bridge-window-check)
  set_tests_properties(bridge-win32-window PROPERTIES LABELS wine TIMEOUT 180
                       RESOURCE_LOCK "korvan-wine-sim-window;korvan-wine-local-app-data")
  # A prefix and a session of its own (tests/wine/wine-run.sh): no lock shared with the others.
  add_test(NAME bridge-win32-window-144dpi COMMAND bridge-window-check --dpi 144)
  set_tests_properties(bridge-win32-window-144dpi PROPERTIES LABELS wine TIMEOUT 180
                       ENVIRONMENT KORVAN_WINE_DPI=144)
endif()
