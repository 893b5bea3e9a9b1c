# Fuzzing korvan-sim's record walk; the ctest run replays the corpus and a seeded batch of
# generated inputs (under the sanitizers of the linux preset).
if(NOT WIN32)
  add_executable(sim-exchange-fuzz ${CMAKE_CURRENT_LIST_DIR}/sim_exchange_fuzz.cpp)
  target_link_libraries(sim-exchange-fuzz PRIVATE korvan_sim_core)
  add_test(NAME fuzz.sim_exchange
    COMMAND sim-exchange-fuzz ${CMAKE_CURRENT_LIST_DIR}/corpus/sim_exchange --iterations 20000)
  set_tests_properties(fuzz.sim_exchange PROPERTIES LABELS fuzz TIMEOUT 300)
endif()
