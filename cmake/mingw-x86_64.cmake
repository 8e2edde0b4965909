# 64-bit Windows console program with mingw-w64:
#   cmake --preset win64   (or -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VESK_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
