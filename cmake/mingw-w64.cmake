# Shared by the two MinGW-w64 toolchain files, which set QVL_MINGW_TRIPLE first.
set(CMAKE_SYSTEM_NAME Windows)
# The -posix compilers: their C++ runtime has std::thread and friends.
set(CMAKE_C_COMPILER ${QVL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QVL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QVL_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QVL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Test programs run through Wine, inside the prefix and display that a wine fixture starts.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine/run.sh)
