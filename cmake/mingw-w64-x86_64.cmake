# Cross build of the Windows programs with Debian's mingw-w64 (posix threads
# flavour), e.g.:
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MB_MINGW_PREFIX x86_64-w64-mingw32)
find_program(MB_MINGW_CXX NAMES ${MB_MINGW_PREFIX}-g++-posix ${MB_MINGW_PREFIX}-g++ REQUIRED)
find_program(MB_MINGW_CC NAMES ${MB_MINGW_PREFIX}-gcc-posix ${MB_MINGW_PREFIX}-gcc REQUIRED)
find_program(MB_MINGW_RC NAMES ${MB_MINGW_PREFIX}-windres REQUIRED)
set(CMAKE_C_COMPILER ${MB_MINGW_CC})
set(CMAKE_CXX_COMPILER ${MB_MINGW_CXX})
set(CMAKE_RC_COMPILER ${MB_MINGW_RC})

set(CMAKE_FIND_ROOT_PATH /usr/${MB_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe per program: no libstdc++/libgcc/winpthread DLLs
# to ship beside it, only the system's own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Target the Windows versions the agent supports; the W/A calls it uses are
# all present since Windows XP, but the newer headers are harmless.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601)

# Lets ctest (and gtest discovery) run the Windows test binary under Wine.
find_program(MB_WINE NAMES wine wine64)
if(MB_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MB_WINE})
endif()
