# Heap allocations of the running bridge cycle, per tick (the floor is none).
if(NOT WIN32)
  target_sources(korvan-bench PRIVATE ${CMAKE_CURRENT_LIST_DIR}/alloc_bench.cpp)
  target_link_libraries(korvan-bench PRIVATE korvan_app korvan_toolkit_null
                                            korvan_platform_logfile)
  add_dependencies(korvan-bench korvan-sim korvan-efis)
  add_test(NAME bench.alloc COMMAND korvan-bench --only alloc --iterations 2000)
  set_tests_properties(bench.alloc PROPERTIES LABELS bench TIMEOUT 120)
endif()
