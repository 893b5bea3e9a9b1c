# Windows only: what the Win32 serving window alone has, run under Wine by the cross-compiling
# emulator (the rest of the IPC contract: tests/contract/ipc.cmake).
if(WIN32)
  add_executable(win32-ipc-wine-tests ${CMAKE_CURRENT_LIST_DIR}/win32_ipc_test.cpp)
  target_include_directories(win32-ipc-wine-tests PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(win32-ipc-wine-tests PRIVATE korvan_platform GTest::gtest_main)
  gtest_discover_tests(win32-ipc-wine-tests PROPERTIES LABELS wine TIMEOUT 120)
endif()
