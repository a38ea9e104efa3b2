# Cross build for 64-bit Windows with mingw-w64 (Debian's g++-mingw-w64-x86-64).
# The -posix variant: its libstdc++ has std::thread and std::mutex, which
# GoogleTest needs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KMOV_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KMOV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KMOV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KMOV_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KMOV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Windows programs run under Wine here, for tests and for CTest's discovery,
# through a wrapper that quiets Wine and strips carriage returns.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
