# SimLinkOpen against arbitrary handshake replies.
korvan_fuzz_target(simlink_open MAX_LEN 1024 SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/simlink_open_fuzz.cpp
  ${PROJECT_SOURCE_DIR}/simlink/SimLinkClient.cpp
  ${PROJECT_SOURCE_DIR}/tests/unit/fake_ipc.cpp
  ${PROJECT_SOURCE_DIR}/tests/unit/fake_ipc_close.cpp)
