# The engine and flight frames byte for byte, on the recording device layer of the link tests.
# Built for Windows too, where it runs under Wine: the MinGW build must send the same bytes.
add_executable(efis-frames-tests
  ${CMAKE_CURRENT_LIST_DIR}/efis_frames_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/efis_fake_device.cpp
  ${PROJECT_SOURCE_DIR}/efis/EfisLink.cpp
  ${PROJECT_SOURCE_DIR}/efis/EfisFrames.cpp
  ${PROJECT_SOURCE_DIR}/efis/FrameFill.cpp
  ${PROJECT_SOURCE_DIR}/efis/FrameMath.cpp
  ${PROJECT_SOURCE_DIR}/efis/FlightFrames.cpp
  ${PROJECT_SOURCE_DIR}/efis/EngineFrames.cpp
  ${PROJECT_SOURCE_DIR}/efis/SharedState.cpp)
target_include_directories(efis-frames-tests PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(efis-frames-tests PRIVATE korvan_toolkit_null korvan_toolkit
  GTest::gtest_main)
if(WIN32)
  set(efis_frames_label wine)
else()
  set(efis_frames_label unit)
endif()
gtest_discover_tests(efis-frames-tests DISCOVERY_MODE PRE_TEST
  PROPERTIES LABELS ${efis_frames_label} TIMEOUT 120)
