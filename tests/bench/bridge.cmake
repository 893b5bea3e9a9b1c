# The real korvan-bridge beside a bare GTK window with a 50 ms timer and beside the floor that does
# its work (work_floor.cmake): CPU, schedule, latency and memory; the conversions' cost apart. A
# plain korvan-bench run lasts 60 s per scenario; the ctest run 3 s.
if(NOT WIN32)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(GTK3 REQUIRED IMPORTED_TARGET gtk+-3.0)
  add_executable(bare-gtk-window ${CMAKE_CURRENT_LIST_DIR}/bare_gtk_window.c
                                 ${CMAKE_CURRENT_LIST_DIR}/bare_gtk_widgets.c)
  target_link_libraries(bare-gtk-window PRIVATE PkgConfig::GTK3)
  target_sources(korvan-bench PRIVATE ${CMAKE_CURRENT_LIST_DIR}/bridge_bench.cpp
                                      ${CMAKE_CURRENT_LIST_DIR}/stand_in_logs.cpp
                                      ${CMAKE_CURRENT_LIST_DIR}/conversion_cost.cpp)
  target_link_libraries(korvan-bench PRIVATE korvan_efis korvan_toolkit_null)
  add_dependencies(korvan-bench korvan-bridge korvan-sim korvan-efis bare-gtk-window)
  add_test(NAME bench.bridge COMMAND korvan-bench --only cpu --seconds 3)
  set_tests_properties(bench.bridge PROPERTIES LABELS bench TIMEOUT 180)
endif()
# The bridge with its ticks timed, for the schedule.
if(NOT WIN32)
  add_executable(bridge-ticks ${CMAKE_CURRENT_LIST_DIR}/bridge_ticks_main.cpp)
  target_include_directories(bridge-ticks PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(bridge-ticks PRIVATE korvan_app korvan_toolkit_native korvan_platform
                                             korvan_platform_logfile PkgConfig::GTK3)
  add_dependencies(korvan-bench bridge-ticks)
  add_test(NAME bench.schedule COMMAND korvan-bench --only schedule --seconds 3)
  set_tests_properties(bench.schedule PROPERTIES LABELS bench TIMEOUT 120
    ENVIRONMENT "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/gui/gtk_lsan.supp")
endif()
