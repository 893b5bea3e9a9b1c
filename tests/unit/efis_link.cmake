# The EFIS link's own logic (connect, close, frames, send step, the reader's read and decode)
# on a recording device layer: the link's sources are built here with
# tests/unit/efis_fake_device.cpp in place of the platform backend.
add_executable(efis-link-unit-tests
  ${CMAKE_CURRENT_LIST_DIR}/efis_link_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/efis_reader_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/efis_fake_device.cpp
  ${PROJECT_SOURCE_DIR}/efis/EfisLink.cpp
  ${PROJECT_SOURCE_DIR}/efis/EfisFrames.cpp
  ${PROJECT_SOURCE_DIR}/efis/FrameFill.cpp
  ${PROJECT_SOURCE_DIR}/efis/EfisReader.cpp
  ${PROJECT_SOURCE_DIR}/efis/SharedState.cpp)
target_include_directories(efis-link-unit-tests PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(efis-link-unit-tests PRIVATE korvan_toolkit_null korvan_toolkit
  GTest::gtest_main)
gtest_discover_tests(efis-link-unit-tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS unit)
