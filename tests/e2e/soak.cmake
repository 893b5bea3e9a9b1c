# The whole system for KORVAN_SOAK_SECONDS (default 10 minutes): tests/e2e/soak.sh. Label soak,
# apart from every other suite: the test command runs it on the release build in the background
# while the other steps run (scripts/test.sh soak-start, soak-verdict); by hand:
#   cmake --build --preset linux-release && ctest --preset linux-release -L soak
if(NOT WIN32 AND KORVAN_SANITIZE)
  # The soak's memory verdict (resident memory flat over the run) cannot hold under a sanitizer,
  # whose shadow memory and quarantine grow by design: here it says so and is skipped.
  add_test(NAME soak-system
           COMMAND sh -c "echo 'soak-system: skipped: the memory verdict needs a build without sanitizers (linux-release)'; exit 77")
  set_tests_properties(soak-system PROPERTIES LABELS soak SKIP_RETURN_CODE 77)
elseif(NOT WIN32)
  set(KORVAN_SOAK_SECONDS 600 CACHE STRING "How long the soak test runs the system")
  add_test(NAME soak-system
           COMMAND xvfb-run -a -s "-screen 0 1280x1024x24" bash ${CMAKE_CURRENT_LIST_DIR}/soak.sh
                   $<TARGET_FILE_DIR:korvan-bridge> ${KORVAN_SOAK_SECONDS})
  math(EXPR soak_limit "${KORVAN_SOAK_SECONDS} + 300")
  set_tests_properties(soak-system PROPERTIES LABELS soak TIMEOUT ${soak_limit}
    ENVIRONMENT "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/gui/gtk_lsan.supp")
endif()
