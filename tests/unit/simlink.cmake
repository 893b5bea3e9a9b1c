# The link's own logic, against an in-process module (tests/unit/fake_ipc.cpp).
add_executable(simlink-unit-tests
  ${CMAKE_CURRENT_LIST_DIR}/simlink_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fake_ipc.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fake_ipc_close.cpp)
target_include_directories(simlink-unit-tests PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(simlink-unit-tests PRIVATE korvan_simlink GTest::gtest_main)
gtest_discover_tests(simlink-unit-tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS unit)
