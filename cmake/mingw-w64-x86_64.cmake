# Cross-build for 64-bit Windows with MinGW-w64 (POSIX thread model, so that
# std::thread and std::mutex work), producing a static executable that needs
# no MinGW runtime DLLs beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELTRIX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELTRIX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELTRIX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VELTRIX_MINGW_PREFIX}-windres)

# Only the cross environment's own headers and libraries: nothing from the
# build machine's /usr/include may leak into a Windows build.
set(CMAKE_FIND_ROOT_PATH /usr/${VELTRIX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests and the programs cross-built here run under Wine.
find_program(VELTRIX_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(VELTRIX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELTRIX_WINE})
endif()
