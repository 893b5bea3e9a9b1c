# The EFIS reader's decode of whatever one read delivers (0 to 64 bytes).
korvan_fuzz_target(efis_reader MAX_LEN 80 SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/efis_reader_fuzz.cpp
  ${PROJECT_SOURCE_DIR}/efis/EfisReader.cpp
  ${PROJECT_SOURCE_DIR}/efis/SharedState.cpp)
