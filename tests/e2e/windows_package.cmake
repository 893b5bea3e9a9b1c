# The zip a pilot downloads: its files, the exe's imports (Windows' own DLLs only), its resources
# and its SHA-256, made and checked by scripts/package.sh from this build.
if(WIN32)
  add_test(NAME windows-package
           COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/package.sh --build ${CMAKE_BINARY_DIR}
                   --out ${CMAKE_BINARY_DIR}/package-test)
  set_tests_properties(windows-package PROPERTIES LABELS e2e TIMEOUT 120)
endif()
