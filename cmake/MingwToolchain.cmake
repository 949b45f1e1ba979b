# Cross-building for Windows with Debian's mingw-w64, shared by the two toolchain files
# beside it, which set QVU_MINGW_TRIPLET. The posix thread variants of the compilers have
# std::thread and std::mutex (the default win32 variants of GCC 12 do not); -static keeps
# the mingw runtime out of the program folder.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${QVU_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QVU_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QVU_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QVU_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine. Debian's "wine" starts the 32-bit loader; the 64-bit one
# has no wrapper of its own.
if(QVU_MINGW_TRIPLET MATCHES "^x86_64")
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR wine)
endif()
