# The device contract, opener and unit, on the backend of the build: one test list for both
# (tests/unit/device_contract_test.cpp). Under Wine on Windows, where one of its units is
# published through SetupAPI for the whole prefix: not while a test looks for no EFIS there.
add_executable(device-contract-tests ${CMAKE_CURRENT_LIST_DIR}/device_contract_test.cpp)
target_link_libraries(device-contract-tests PRIVATE korvan_test_unit korvan_platform
                                                    korvan_test_support GTest::gtest_main)
if(WIN32)
  gtest_discover_tests(device-contract-tests PROPERTIES LABELS wine TIMEOUT 120
                       RESOURCE_LOCK korvan-wine-sim-window)
else()
  gtest_discover_tests(device-contract-tests PROPERTIES LABELS unit TIMEOUT 120)
endif()
