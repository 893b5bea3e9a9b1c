# The simulator link's copy-back walk over an area a hostile module rewrote.
korvan_fuzz_target(simlink_copyback MAX_LEN 8192 SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/simlink_copyback_fuzz.cpp
  ${PROJECT_SOURCE_DIR}/simlink/SimLinkClient.cpp
  ${PROJECT_SOURCE_DIR}/tests/unit/fake_ipc.cpp
  ${PROJECT_SOURCE_DIR}/tests/unit/fake_ipc_close.cpp)
