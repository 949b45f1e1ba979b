# The Windows program: 32-bit, as Windows' own Access driver exists only for 32 bits.
set(QVU_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
