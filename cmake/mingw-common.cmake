# Shared by both cross toolchains. The -posix compilers are required: the
# win32 thread model has no std::mutex, which GoogleTest needs.
set(CMAKE_C_COMPILER ${VANDREL_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VANDREL_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VANDREL_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VANDREL_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
