# The EFIS link's own logic (connect, close, frames, send step, the reader's read and decode)
# on a recording device layer: the link's sources are built here with
# tests/unit/efis_fake_device.cpp in place of the platform backend.
set(efis_sources_on_fake_device
  ${CMAKE_CURRENT_LIST_DIR}/efis_fake_device.cpp
  ${PROJECT_SOURCE_DIR}/efis/EfisLink.cpp
  ${PROJECT_SOURCE_DIR}/efis/EfisFrames.cpp
  ${PROJECT_SOURCE_DIR}/efis/FrameMath.cpp
  ${PROJECT_SOURCE_DIR}/efis/FlightFrames.cpp
  ${PROJECT_SOURCE_DIR}/efis/EngineFrames.cpp
  ${PROJECT_SOURCE_DIR}/efis/EfisReader.cpp
  ${PROJECT_SOURCE_DIR}/efis/SharedState.cpp)

add_executable(efis-link-unit-tests ${CMAKE_CURRENT_LIST_DIR}/efis_link_test.cpp
                                    ${CMAKE_CURRENT_LIST_DIR}/efis_reader_test.cpp
                                    ${efis_sources_on_fake_device})
target_include_directories(efis-link-unit-tests PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(efis-link-unit-tests PRIVATE korvan_toolkit_null korvan_toolkit
  GTest::gtest_main)
gtest_discover_tests(efis-link-unit-tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS unit)

# The engine and flight frames byte for byte. Built for Windows too, where it runs under Wine:
# the MinGW build must send the same bytes.
add_executable(efis-frames-tests ${CMAKE_CURRENT_LIST_DIR}/efis_frames_test.cpp
                                 ${efis_sources_on_fake_device})
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
