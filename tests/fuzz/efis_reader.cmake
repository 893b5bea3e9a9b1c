# The EFIS reader's decode of whatever one read delivers (0 to 64 bytes).
# The oracle is korvan-efis's own: its encoder of the frames it sends and its mapping of positions
# to the commands it expects.
korvan_fuzz_target(efis_reader MAX_LEN 80 SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/efis_reader_fuzz.cpp
  ${PROJECT_SOURCE_DIR}/efis/EfisReader.cpp
  ${PROJECT_SOURCE_DIR}/efis/SharedState.cpp
  ${PROJECT_SOURCE_DIR}/standins/efis/efis_autopilot.cpp
  ${PROJECT_SOURCE_DIR}/standins/efis/efis_outputs.cpp
  ${PROJECT_SOURCE_DIR}/standins/efis/posix_efis_keys.cpp
  ${PROJECT_SOURCE_DIR}/standins/common/number_option.cpp
  ${PROJECT_SOURCE_DIR}/standins/common/say.cpp)
