# Shared part of the mingw-w64 cross toolchains. The including file sets
# VESK_MINGW_TRIPLE (i686-w64-mingw32 or x86_64-w64-mingw32) first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)

# Debian ships each compiler twice, with the win32 and the posix thread model;
# the posix one has the whole of <thread> and <mutex>. -static (added by the
# top-level CMakeLists) links its runtime into the .exe.
find_program(VESK_MINGW_CXX NAMES ${VESK_MINGW_TRIPLE}-g++-posix ${VESK_MINGW_TRIPLE}-g++ REQUIRED)
find_program(VESK_MINGW_CC NAMES ${VESK_MINGW_TRIPLE}-gcc-posix ${VESK_MINGW_TRIPLE}-gcc)
find_program(VESK_MINGW_RC NAMES ${VESK_MINGW_TRIPLE}-windres)
set(CMAKE_CXX_COMPILER ${VESK_MINGW_CXX})
if(VESK_MINGW_CC)
  set(CMAKE_C_COMPILER ${VESK_MINGW_CC})
endif()
if(VESK_MINGW_RC)
  set(CMAKE_RC_COMPILER ${VESK_MINGW_RC})
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${VESK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built here run under Wine on the build machine.
find_program(VESK_WINE NAMES wine)
if(VESK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VESK_WINE})
endif()

# The release programs ship without symbols.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
