# The Windows build (see the toolchain files): the static libraries that
# tools/windows/deps.sh made, googletest built with the cross compiler, and the tests run
# under Wine through tools/windows/wine.sh with a prefix of this build folder.

if(CMAKE_SYSTEM_PROCESSOR MATCHES "64")
  set(QVU_WINDOWS_ARCH x86_64)
else()
  set(QVU_WINDOWS_ARCH i686)
endif()
set(QVU_WINDOWS_DEPS "${CMAKE_BINARY_DIR}/deps/${QVU_WINDOWS_ARCH}" CACHE PATH
    "prefix of the static Windows libraries made by tools/windows/deps.sh")
if(NOT EXISTS "${QVU_WINDOWS_DEPS}/lib/libarchive.a")
  message(FATAL_ERROR "No Windows libraries in ${QVU_WINDOWS_DEPS}: run "
                      "tools/windows/deps.sh BUILD_DIR ${QVU_WINDOWS_ARCH} (make windows does).")
endif()

# Only static archives: an import library found first would tie the program to a DLL.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
list(APPEND CMAKE_FIND_ROOT_PATH "${QVU_WINDOWS_DEPS}")
set(QVU_MINGW_SYSROOT "/usr/${QVU_MINGW_TRIPLET}")

# Imported targets under the names the Linux build gets from find_package, so that a later
# find_package finds them already made.
# A library not built yet is left out; only what links it fails.
function(qvu_static_import target file)
  if(NOT EXISTS "${file}")
    message(WARNING "${file} is missing: rerun tools/windows/deps.sh")
    return()
  endif()
  add_library(${target} STATIC IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION "${file}")
  cmake_parse_arguments(PARSE_ARGV 2 ARG "" "" "INCLUDE;LINK;DEFINE")
  if(ARG_INCLUDE)
    set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${ARG_INCLUDE}")
  endif()
  if(ARG_LINK)
    set_target_properties(${target} PROPERTIES INTERFACE_LINK_LIBRARIES "${ARG_LINK}")
  endif()
  if(ARG_DEFINE)
    set_target_properties(${target} PROPERTIES INTERFACE_COMPILE_DEFINITIONS "${ARG_DEFINE}")
  endif()
endfunction()

qvu_static_import(ZLIB::ZLIB "${QVU_MINGW_SYSROOT}/lib/libz.a")
qvu_static_import(OpenSSL::Crypto "${QVU_WINDOWS_DEPS}/lib/libcrypto.a"
  INCLUDE "${QVU_WINDOWS_DEPS}/include" LINK "ws2_32;gdi32;crypt32")
qvu_static_import(OpenSSL::SSL "${QVU_WINDOWS_DEPS}/lib/libssl.a"
  INCLUDE "${QVU_WINDOWS_DEPS}/include" LINK "OpenSSL::Crypto")
qvu_static_import(CURL::libcurl "${QVU_WINDOWS_DEPS}/lib/libcurl.a"
  INCLUDE "${QVU_WINDOWS_DEPS}/include" DEFINE "CURL_STATICLIB"
  LINK "OpenSSL::SSL;ZLIB::ZLIB;ws2_32;crypt32;bcrypt;wldap32;advapi32")
qvu_static_import(pugixml::pugixml "${QVU_WINDOWS_DEPS}/lib/libpugixml.a" INCLUDE "${QVU_WINDOWS_DEPS}/include")
qvu_static_import(qvu::libarchive "${QVU_WINDOWS_DEPS}/lib/libarchive.a"
  INCLUDE "${QVU_WINDOWS_DEPS}/include" DEFINE "LIBARCHIVE_STATIC" LINK "ZLIB::ZLIB")

# googletest from Debian's sources, built with the cross compiler; its project makes the
# GTest:: aliases the tests link.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# Paths of the build machine compiled into test programs: Wine shows its root as drive Z:, so
# they name the same file whatever drive the test's current directory is on.
set(QVU_HOST_PATH_PREFIX "Z:")

# Test programs are listed when ctest runs them (under Wine), not after each link.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
set(CMAKE_CROSSCOMPILING_EMULATOR
  "${CMAKE_SOURCE_DIR}/tools/windows/wine.sh;run;${CMAKE_BINARY_DIR};${CMAKE_CROSSCOMPILING_EMULATOR}")

