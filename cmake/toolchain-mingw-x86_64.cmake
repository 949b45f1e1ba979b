# The Windows program for 64 bits: the build whose tests run under Wine on machines that
# cannot execute 32-bit Linux programs (and so not Wine's 32-bit loader).
set(QVU_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
