# Cross-compile for 64-bit Windows with MinGW-w64 (the posix thread model, for std::thread).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KORVAN_MINGW_PREFIX x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${KORVAN_MINGW_PREFIX}-gcc-posix ${KORVAN_MINGW_PREFIX}-gcc)
find_program(CMAKE_CXX_COMPILER NAMES ${KORVAN_MINGW_PREFIX}-g++-posix ${KORVAN_MINGW_PREFIX}-g++)
find_program(CMAKE_RC_COMPILER NAMES ${KORVAN_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KORVAN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Tests built for Windows run under Wine on the build machine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/wine/wine-run.sh)
