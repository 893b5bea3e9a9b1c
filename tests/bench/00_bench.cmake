# korvan-bench: the driver and what its measurements share; each area adds its measurements in
# a fragment of its own (target_sources(korvan-bench PRIVATE ...)), see tests/bench/bench.h. The
# floors are plain programs of their own, built beside it.
if(NOT WIN32)
  add_executable(korvan-bench ${CMAKE_CURRENT_LIST_DIR}/bench_main.cpp
                              ${CMAKE_CURRENT_LIST_DIR}/bench_support.cpp)
  target_include_directories(korvan-bench PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(korvan-bench PRIVATE korvan_platform korvan_test_support)
endif()
