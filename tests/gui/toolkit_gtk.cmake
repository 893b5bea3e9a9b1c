# The GTK toolkit backend on a real X server (Xvfb): the window read back and driven.
if(NOT WIN32)
  add_executable(toolkit-gtk-demo ${CMAKE_CURRENT_LIST_DIR}/toolkit_gtk_demo.cpp)
  target_link_libraries(toolkit-gtk-demo PRIVATE korvan_toolkit_native)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(KORVAN_X11 REQUIRED IMPORTED_TARGET x11)
  add_executable(x11-delete-window ${CMAKE_CURRENT_LIST_DIR}/x11_delete_window.cpp)
  target_link_libraries(x11-delete-window PRIVATE PkgConfig::KORVAN_X11)
  add_test(NAME toolkit-gtk-window
           COMMAND xvfb-run -a -s "-screen 0 1280x1024x24" bash
                   ${CMAKE_CURRENT_LIST_DIR}/toolkit_gtk_check.sh $<TARGET_FILE:toolkit-gtk-demo>
                   $<TARGET_FILE:x11-delete-window>)
  set_tests_properties(toolkit-gtk-window PROPERTIES LABELS gui TIMEOUT 120
    ENVIRONMENT "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/gtk_lsan.supp")
endif()
