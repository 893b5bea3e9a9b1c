# The device contract (platform/device.h, device_server.h), opener and unit, on the target's
# backend. Under Wine one of its units is published through SetupAPI for the whole prefix: not
# while a test looks for no EFIS there.
add_executable(device-contract-tests ${CMAKE_CURRENT_LIST_DIR}/device_contract_test.cpp)
target_link_libraries(device-contract-tests PRIVATE korvan_test_unit korvan_platform
                                                    korvan_test_support GTest::gtest_main)
korvan_contract_tests(device-contract-tests unit RESOURCE_LOCK korvan-wine-sim-window)
