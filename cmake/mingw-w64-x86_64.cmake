# Cross build for 64-bit Windows with Debian's MinGW-w64 (package mingw-w64):
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DWINSTEPS_PLATFORM_ONLY=ON
# The -posix compilers are the ones whose standard library has std::thread and std::mutex.
# Programs and DLLs link the compiler's run-time libraries statically, so that they start
# under Wine (or on Windows) without MinGW DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(WINSTEPS_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${WINSTEPS_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${WINSTEPS_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${WINSTEPS_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${WINSTEPS_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Programs built here run under Wine when the build runs them (ctest, try_run).
find_program(WINSTEPS_WINE64 NAMES wine64 wine PATHS /usr/lib/wine)
if(WINSTEPS_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINSTEPS_WINE64})
endif()
