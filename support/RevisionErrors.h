// The texts and result codes both platforms' revision-number code reports with, so that
// every failure reads as it does on the target systems.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "support/Filesystem.h"

namespace qvu::revision {

constexpr uint32_t kStgFileNotFound = 0x80030002;
constexpr uint32_t kStgAccessDenied = 0x80030005;
constexpr uint32_t kStgInsufficientMemory = 0x80030008;
constexpr uint32_t kStgWriteFault = 0x8003001D;
constexpr uint32_t kStgReadFault = 0x8003001E;
constexpr uint32_t kStgFileAlreadyExists = 0x80030050;
constexpr uint32_t kStgInvalidParameter = 0x80030057;
constexpr uint32_t kStgMediumFull = 0x80030070;
constexpr uint32_t kStgInvalidHeader = 0x800300FB;

inline constexpr char kNoFile[] = "ファイルが存在しません";
inline constexpr char kNoStorage[] = "IStorage未対応ファイルです";

// text followed by the result code as eight lower-case hexadecimal digits.
inline std::string WithCode(const char* text, uint32_t code) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%s%08lx", text, static_cast<unsigned long>(code));
  return buf;
}

// The part both directions share: a missing file is reported before the storage is asked,
// and no failure, not even running out of memory, leaves as an exception.
template <typename Body>
bool WithExistingFile(const std::string& fileName, std::string& errorText, Body body) {
  try {
    if (!FileExists(fileName)) {
      errorText = kNoFile;
      return false;
    }
    return body();
  } catch (...) {  // in practice only std::bad_alloc
    errorText = WithCode("StgOpenStorageEx Error ", kStgInsufficientMemory);
    return false;
  }
}

}  // namespace qvu::revision
