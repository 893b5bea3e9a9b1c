# The close's order, on recording stand-ins for the simulator link, the device, the threads and
# the log file.
add_executable(app-close-tests ${CMAKE_CURRENT_LIST_DIR}/app_close_test.cpp
                               ${CMAKE_CURRENT_LIST_DIR}/fake_ipc.cpp
                               ${CMAKE_CURRENT_LIST_DIR}/efis_fake_device.cpp
                               ${CMAKE_CURRENT_LIST_DIR}/fake_thread_clock.cpp
                               ${CMAKE_CURRENT_LIST_DIR}/fake_logfile.cpp)
target_link_libraries(app-close-tests PRIVATE korvan_app korvan_toolkit_null GTest::gtest_main)
gtest_discover_tests(app-close-tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS unit)
