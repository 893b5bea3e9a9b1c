# The floor that does the bridge's work (work_floor.h): one schedule, two windows. GTK on Linux,
# run by korvan-bench's cpu measurement beside korvan-bridge; Win32 for the Windows build, run
# under Wine beside korvan-bridge.exe by `korvan-bench --only windows`.
if(WIN32)
  add_executable(work-win32-window WIN32 ${CMAKE_CURRENT_LIST_DIR}/work_win32_window.cpp
                                         ${CMAKE_CURRENT_LIST_DIR}/work_floor.cpp
                                         ${CMAKE_CURRENT_LIST_DIR}/bare_win32_widgets.c)
  target_include_directories(work-win32-window PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(work-win32-window PRIVATE korvan_platform comctl32)
else()
  add_executable(work-gtk-window ${CMAKE_CURRENT_LIST_DIR}/work_gtk_window.cpp
                                 ${CMAKE_CURRENT_LIST_DIR}/work_floor.cpp
                                 ${CMAKE_CURRENT_LIST_DIR}/bare_gtk_widgets.c)
  target_include_directories(work-gtk-window PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(work-gtk-window PRIVATE korvan_platform PkgConfig::GTK3)
  add_dependencies(korvan-bench work-gtk-window)
endif()
