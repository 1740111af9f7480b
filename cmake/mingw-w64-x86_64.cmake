# Cross-building the Windows programs with Debian's mingw-w64 (POSIX thread model, so
# std::thread, std::mutex and std::condition_variable work):
#   cmake -S . -B build-win32 -G Ninja -DCMAKE_BUILD_TYPE=Release \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The programs are linked statically, so an .exe needs only Windows' own DLLs.
# With MINGW_PREFIX set (e.g. x86_64-w64-mingw32 for another tool name), another
# triplet's compilers are taken.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

if(NOT MINGW_PREFIX)
  set(MINGW_PREFIX x86_64-w64-mingw32)
endif()
set(CMAKE_C_COMPILER ${MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_PREFIX}-windres)
set(CMAKE_AR ${MINGW_PREFIX}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${MINGW_PREFIX}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# CTest runs the .exe tests under Wine where it is there.
find_program(ORNAT_WINE wine)
if(ORNAT_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ORNAT_WINE})
endif()
