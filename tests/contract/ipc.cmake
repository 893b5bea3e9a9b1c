# The window/IPC contract (platform/ipc.h, ipc_server.h) against the target's backend.
add_executable(ipc-contract-tests ${CMAKE_CURRENT_LIST_DIR}/ipc_contract_test.cpp)
target_link_libraries(ipc-contract-tests PRIVATE korvan_ipc_backend korvan_platform
                      korvan_test_support GTest::gtest_main)
korvan_contract_tests(ipc-contract-tests unit)
