# korvan-bench: the driver; each area adds its measurements in a fragment of its own
# (target_sources(korvan-bench PRIVATE ...)), see tests/bench/bench.h.
if(NOT WIN32)
  add_executable(korvan-bench ${CMAKE_CURRENT_LIST_DIR}/bench_main.cpp)
  target_include_directories(korvan-bench PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(korvan-bench PRIVATE korvan_platform korvan_test_support)
endif()
