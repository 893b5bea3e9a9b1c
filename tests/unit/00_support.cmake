# Helpers shared by the tests: starting the stand-ins and the bridge as child processes, and the
# log file's folder of a test.
find_package(Threads REQUIRED)
set(korvan_support_dir ${CMAKE_CURRENT_LIST_DIR}/../support)
if(WIN32)
  add_library(korvan_test_support STATIC ${korvan_support_dir}/child_process_common.cpp
                                         ${korvan_support_dir}/child_process_win32.cpp
                                         ${korvan_support_dir}/log_home_common.cpp
                                         ${korvan_support_dir}/log_home_win32.cpp)
  target_link_libraries(korvan_test_support PUBLIC advapi32)
else()
  add_library(korvan_test_support STATIC ${korvan_support_dir}/child_process_common.cpp
                                         ${korvan_support_dir}/child_process_posix.cpp
                                         ${korvan_support_dir}/log_home_common.cpp
                                         ${korvan_support_dir}/log_home_posix.cpp)
endif()
target_include_directories(korvan_test_support PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(korvan_test_support PUBLIC Threads::Threads)

# A unit served by the test itself (platform/device_server.h): the frames and events it sees.
add_library(korvan_test_unit STATIC ${korvan_support_dir}/test_unit.cpp)
target_include_directories(korvan_test_unit PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(korvan_test_unit PUBLIC korvan_device_server Threads::Threads)
