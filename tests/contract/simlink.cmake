# The simulator link (simlink/) against korvan-sim in another process, on the target's backend.
add_executable(simlink-contract-tests ${CMAKE_CURRENT_LIST_DIR}/simlink_contract_test.cpp)
target_link_libraries(simlink-contract-tests PRIVATE korvan_simlink korvan_ipc_backend
                      korvan_platform korvan_test_support GTest::gtest_main)
target_compile_definitions(simlink-contract-tests PRIVATE
                           KORVAN_SIM_PROGRAM="$<TARGET_FILE:korvan-sim>")
add_dependencies(simlink-contract-tests korvan-sim)
# Win32: the module's window classes are global to the Wine prefix, so the tests that own or
# look for them run one at a time.
korvan_contract_tests(simlink-contract-tests integration RESOURCE_LOCK korvan-wine-sim-window)
