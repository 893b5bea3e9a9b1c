# korvan-sim's record walk and its hostile rewrites, on the area the input is.
korvan_fuzz_target(sim_exchange MAX_LEN 65536 OWN_DRIVER SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/sim_exchange_fuzz.cpp
  ${PROJECT_SOURCE_DIR}/standins/sim/sim_exchange.cpp
  ${PROJECT_SOURCE_DIR}/standins/sim/sim_rewrite.cpp
  ${PROJECT_SOURCE_DIR}/standins/sim/sim_space.cpp
  ${PROJECT_SOURCE_DIR}/standins/sim/sim_fixed_state.cpp)
