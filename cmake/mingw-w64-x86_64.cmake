# Cross-build for Windows x86-64 with MinGW-w64 GCC, win32 thread model: its runtime calls the
# system directly, so LinkSet.dll carries no posix thread library into a host's process.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LINKSET_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${LINKSET_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${LINKSET_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER  ${LINKSET_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LINKSET_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Windows packages (LinkSet's own SDK among them) may be installed anywhere.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# The runtime goes into every binary, so LinkSet.dll and the tools import system DLLs only.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
