# One frame to korvan-efis, written and written with its flush, beside a bare send.
if(NOT WIN32)
  add_executable(floor-frame-sink ${CMAKE_CURRENT_LIST_DIR}/floor_frame_sink.c)
  target_sources(korvan-bench PRIVATE ${CMAKE_CURRENT_LIST_DIR}/frame_bench.cpp)
  add_dependencies(korvan-bench korvan-efis floor-frame-sink)
  add_test(NAME bench.frame COMMAND korvan-bench --only frame --iterations 200)
  set_tests_properties(bench.frame PROPERTIES LABELS bench TIMEOUT 120)
endif()
