# The Wine session's desktop keeper, started by tests/wine/wine-run.sh beside the test programs.
if(WIN32)
  add_executable(wine-session-keeper ${CMAKE_CURRENT_LIST_DIR}/wine_session_keeper.cpp)
  target_link_libraries(wine-session-keeper PRIVATE user32)
endif()
