# The cost of a slow-group exchange with korvan-sim. The ctest run is short: it proves the
# measurement works; the numbers come from a full run of korvan-bench.
if(NOT WIN32)
  target_sources(korvan-bench PRIVATE ${CMAKE_CURRENT_LIST_DIR}/simlink_bench.cpp)
  target_link_libraries(korvan-bench PRIVATE korvan_simlink)
  target_compile_definitions(korvan-bench PRIVATE KORVAN_SIM_PATH="$<TARGET_FILE:korvan-sim>")
  add_dependencies(korvan-bench korvan-sim)
  add_test(NAME bench.simlink COMMAND korvan-bench --only simlink --iterations 200)
  set_tests_properties(bench.simlink PROPERTIES LABELS bench TIMEOUT 120)
endif()
