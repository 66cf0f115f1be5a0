# Cross build for 64-bit Windows with Debian's mingw-w64 (posix thread model):
#   cmake -S . -B build-windows --toolchain cmake/mingw-w64-x86_64.cmake -DPALVERN_TESTS=OFF -DPALVERN_BENCH=OFF
# The executable links everything statically, so it needs no DLL beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PALVERN_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PALVERN_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PALVERN_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${PALVERN_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PALVERN_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
