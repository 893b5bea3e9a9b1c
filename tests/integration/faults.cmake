# Fault injection with the three real programs (GTK bridge on Xvfb): tests/integration/faults.sh.
if(NOT WIN32)
  foreach(fault sim-killed silent-module efis-unplugged efis-stopped unit-silent area-truncated
                stop-signals one-copy)
    add_test(NAME fault-${fault}
             COMMAND xvfb-run -a -s "-screen 0 1280x1024x24" bash
                     ${CMAKE_CURRENT_LIST_DIR}/faults.sh $<TARGET_FILE_DIR:korvan-bridge> ${fault})
    set_tests_properties(fault-${fault} PROPERTIES LABELS integration TIMEOUT 240
      ENVIRONMENT "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/gui/gtk_lsan.supp")
  endforeach()
endif()
