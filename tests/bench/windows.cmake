# The floors of the Windows figures: a bare Win32 window with the bridge's controls and a 50 ms
# timer, and the floor that does the bridge's work (work_floor.cmake), run under the same Wine
# beside korvan-bridge.exe by `korvan-bench --only windows` (a Linux program: it starts the
# Windows build's programs through tests/wine/wine-run.sh).
if(WIN32)
  add_executable(bare-win32-window WIN32 ${CMAKE_CURRENT_LIST_DIR}/bare_win32_window.c
                                         ${CMAKE_CURRENT_LIST_DIR}/bare_win32_widgets.c)
  target_link_libraries(bare-win32-window PRIVATE comctl32)
else()
  target_sources(korvan-bench PRIVATE ${CMAKE_CURRENT_LIST_DIR}/windows_bench.cpp
                                      ${CMAKE_CURRENT_LIST_DIR}/wine_schedule.cpp)
  target_compile_definitions(korvan-bench PRIVATE KORVAN_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
endif()
