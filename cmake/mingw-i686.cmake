# 32-bit Windows console program with mingw-w64:
#   cmake --preset win32   (or -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VESK_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
