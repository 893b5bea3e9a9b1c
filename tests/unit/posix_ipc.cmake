# What the POSIX emulation of the IPC alone has: the namespace root and its files, the reclaiming
# of what dead processes left, the socket framing, the handle table (what both backends share:
# tests/contract/ipc.cmake).
if(NOT WIN32)
  add_executable(posix-ipc-unit-tests ${CMAKE_CURRENT_LIST_DIR}/posix_ipc_test.cpp)
  target_include_directories(posix-ipc-unit-tests PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(posix-ipc-unit-tests PRIVATE korvan_platform korvan_test_support
                        GTest::gtest_main)
  gtest_discover_tests(posix-ipc-unit-tests DISCOVERY_MODE PRE_TEST
                       PROPERTIES LABELS unit TIMEOUT 120)
endif()
