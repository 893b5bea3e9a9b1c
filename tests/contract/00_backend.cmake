# The contract suites: one list of cases per contract, built for the target's backend (the
# POSIX layer on Linux, Win32 under Wine). Where the backends differ as the contract allows,
# a case asks its backend's answers (ipc_backend.h), compiled into each program that links this.
add_library(korvan_ipc_backend INTERFACE)
if(WIN32)
  target_sources(korvan_ipc_backend INTERFACE ${CMAKE_CURRENT_LIST_DIR}/ipc_backend_win32.cpp)
else()
  target_sources(korvan_ipc_backend INTERFACE ${CMAKE_CURRENT_LIST_DIR}/ipc_backend_posix.cpp)
endif()
target_include_directories(korvan_ipc_backend INTERFACE ${PROJECT_SOURCE_DIR})

# Linux labels a contract's program as its kind of test; Windows runs every one under Wine.
function(korvan_contract_tests target linux_label)
  if(WIN32)
    gtest_discover_tests(${target} PROPERTIES LABELS wine TIMEOUT 120 ${ARGN})
  else()
    gtest_discover_tests(${target} PROPERTIES LABELS ${linux_label} TIMEOUT 120)
  endif()
endfunction()
