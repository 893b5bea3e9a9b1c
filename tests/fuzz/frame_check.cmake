# korvan-efis's check of the frames arriving on its write pipe, and its reading of them.
korvan_fuzz_target(frame_check MAX_LEN 128 SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/frame_check_fuzz.cpp
  ${PROJECT_SOURCE_DIR}/standins/efis/frame_check.cpp
  ${PROJECT_SOURCE_DIR}/standins/efis/frame_decode.cpp)
