# The real korvan-bridge window on GTK (Xvfb) between korvan-sim and korvan-efis.
if(NOT WIN32)
  add_test(NAME bridge-gtk-window
           COMMAND xvfb-run -a -s "-screen 0 1280x1024x24" bash
                   ${CMAKE_CURRENT_LIST_DIR}/app_window_gtk.sh $<TARGET_FILE_DIR:korvan-bridge>
                   $<TARGET_FILE:x11-delete-window> ${CMAKE_BINARY_DIR}/window-gtk.png)
  set_tests_properties(bridge-gtk-window PROPERTIES LABELS gui TIMEOUT 120
    ENVIRONMENT "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/gtk_lsan.supp")
endif()
