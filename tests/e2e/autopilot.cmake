# The whole loop: korvan-sim, korvan-bridge (GTK, on Xvfb) and korvan-efis, the autopilot and the
# altimeter setting end to end. Its own step of the test command (scripts/test.sh e2e).
if(NOT WIN32)
  add_test(NAME e2e-autopilot-and-qnh
           COMMAND xvfb-run -a -s "-screen 0 1280x1024x24" bash
                   ${CMAKE_CURRENT_LIST_DIR}/autopilot_e2e.sh $<TARGET_FILE_DIR:korvan-bridge>)
  set_tests_properties(e2e-autopilot-and-qnh PROPERTIES LABELS e2e TIMEOUT 300
    ENVIRONMENT "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/gui/gtk_lsan.supp")
endif()
