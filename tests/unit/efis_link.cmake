# The EFIS link's own logic (connect, close, frames, send step, the reader's read and decode)
# on a recording device layer: the programs link korvan_efis with tests/unit/efis_fake_device.cpp
# as their platform layer, and no platform backend at all.
add_executable(efis-link-unit-tests ${CMAKE_CURRENT_LIST_DIR}/efis_link_test.cpp
                                    ${CMAKE_CURRENT_LIST_DIR}/efis_reader_test.cpp
                                    ${CMAKE_CURRENT_LIST_DIR}/efis_fake_device.cpp)
target_link_libraries(efis-link-unit-tests PRIVATE korvan_efis korvan_toolkit_null
  GTest::gtest_main)
gtest_discover_tests(efis-link-unit-tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS unit)

# The conversions and the engine and flight frames' payloads byte for byte: no device, no link.
# Built for Windows too, where it runs under Wine: the MinGW build must fill the same bytes.
add_executable(efis-frames-tests ${CMAKE_CURRENT_LIST_DIR}/efis_frames_test.cpp)
target_link_libraries(efis-frames-tests PRIVATE korvan_efis GTest::gtest_main)
if(WIN32)
  set(efis_frames_label wine)
else()
  set(efis_frames_label unit)
endif()
gtest_discover_tests(efis-frames-tests DISCOVERY_MODE PRE_TEST
  PROPERTIES LABELS ${efis_frames_label} TIMEOUT 120)
