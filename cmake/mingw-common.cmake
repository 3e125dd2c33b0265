# mingw-w64 with the posix thread model: std::thread and std::timed_mutex need it.
set(CMAKE_C_COMPILER ${IX_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${IX_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${IX_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${IX_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Test programs run under Wine, so ctest works the same as on a native build.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
