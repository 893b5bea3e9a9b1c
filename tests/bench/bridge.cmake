# The bridge's CPU share and tick intervals, connected to korvan-sim and korvan-efis. The ctest
# run lasts 3 s and proves the measurement works; a plain korvan-bench run takes 60 s.
if(NOT WIN32)
  target_sources(korvan-bench PRIVATE ${CMAKE_CURRENT_LIST_DIR}/bridge_bench.cpp)
  target_link_libraries(korvan-bench PRIVATE korvan_app korvan_toolkit_null)
  target_compile_definitions(korvan-bench PRIVATE KORVAN_EFIS_PATH="$<TARGET_FILE:korvan-efis>")
  add_dependencies(korvan-bench korvan-efis)
  add_test(NAME bench.bridge COMMAND korvan-bench --only bridge --iterations 3)
  set_tests_properties(bench.bridge PROPERTIES LABELS bench TIMEOUT 120)
endif()
