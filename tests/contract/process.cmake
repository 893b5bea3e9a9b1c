# What the platform layer offers the process itself (platform/instance.h, the error texts of
# ipc.h) and its threads' events (platform/thread.h), on the target's backend.
add_executable(process-contract-tests ${CMAKE_CURRENT_LIST_DIR}/process_contract_test.cpp
                                      ${CMAKE_CURRENT_LIST_DIR}/thread_contract_test.cpp)
target_link_libraries(process-contract-tests PRIVATE korvan_platform korvan_test_support
                                                      GTest::gtest_main)
korvan_contract_tests(process-contract-tests unit)
