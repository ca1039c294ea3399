# Cross build for 32-bit Windows with MinGW-w64. The -posix compilers carry std::mutex,
# which GoogleTest needs when the Windows-side test programs are built.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(QUORVEL_MINGW_PREFIX i686-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${QUORVEL_MINGW_PREFIX}-gcc-posix ${QUORVEL_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${QUORVEL_MINGW_PREFIX}-g++-posix ${QUORVEL_MINGW_PREFIX}-g++ REQUIRED)
# The shipped code is built with LTO: archives need the plugin-aware ar and ranlib.
find_program(CMAKE_AR NAMES ${QUORVEL_MINGW_PREFIX}-gcc-ar-posix ${QUORVEL_MINGW_PREFIX}-gcc-ar REQUIRED)
find_program(CMAKE_RANLIB NAMES ${QUORVEL_MINGW_PREFIX}-gcc-ranlib-posix ${QUORVEL_MINGW_PREFIX}-gcc-ranlib REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${QUORVEL_MINGW_PREFIX}-windres REQUIRED)
find_program(QUORVEL_OBJDUMP NAMES ${QUORVEL_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${QUORVEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
