# One slow-group exchange with korvan-sim beside a bare request and reply. The ctest run is short:
# it proves the measurement works and prints its figures; a plain korvan-bench run gives them.
if(NOT WIN32)
  add_executable(floor-exchange-server ${CMAKE_CURRENT_LIST_DIR}/floor_exchange_server.c)
  target_sources(korvan-bench PRIVATE ${CMAKE_CURRENT_LIST_DIR}/exchange_bench.cpp)
  target_link_libraries(korvan-bench PRIVATE korvan_simlink)
  add_dependencies(korvan-bench korvan-sim floor-exchange-server)
  add_test(NAME bench.exchange COMMAND korvan-bench --only exchange --iterations 200)
  set_tests_properties(bench.exchange PROPERTIES LABELS bench TIMEOUT 120)
endif()
