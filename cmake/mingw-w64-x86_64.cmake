# Cross-build of the 64-bit Windows program with mingw-w64 (Debian: g++-mingw-w64-x86-64-posix).
# The result is a GUI program that needs no DLL beyond those of Windows itself: the C++ runtime, libgcc and
# winpthread are linked statically.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KORV_MINGW_TRIPLE x86_64-w64-mingw32)
# The "-posix" compiler has std::thread; the program starts its thread through the Windows API, so the plain
# compiler serves as well.
find_program(CMAKE_CXX_COMPILER NAMES ${KORV_MINGW_TRIPLE}-g++-posix ${KORV_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${KORV_MINGW_TRIPLE}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${KORV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
