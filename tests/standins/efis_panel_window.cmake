# korvan-efis's panel window on GTK (Xvfb), drawn from a recording alone.
if(NOT WIN32)
  add_test(NAME efis-panel-window
           COMMAND xvfb-run -a -s "-screen 0 1280x1024x24" bash
                   ${CMAKE_CURRENT_LIST_DIR}/efis_panel_window.sh $<TARGET_FILE:korvan-efis>
                   $<TARGET_FILE:x11-delete-window> ${PROJECT_SOURCE_DIR}/tests/data/efis-frames.rec)
  set_tests_properties(efis-panel-window PROPERTIES LABELS gui TIMEOUT 120
    ENVIRONMENT "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/gui/gtk_lsan.supp")
endif()
