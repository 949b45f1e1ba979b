#include <windows.h>

#include <cstdio>
#include <vector>

#include "support/Filesystem.h"
#include "support/WideText_win32.h"

namespace qvu {

// The version resource through the system's own reader: size, block, the root block "\".
std::string GetFileVersion(const std::string& fileName) {
  if (fileName.empty()) return "";
  try {
    std::wstring name = WidePath(fileName);
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(name.c_str(), &handle);
    if (size == 0) return "";
    std::vector<unsigned char> block(size);
    if (!GetFileVersionInfoW(name.c_str(), 0, size, block.data())) return "";
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) || fixed == nullptr ||
        fixedSize < sizeof(VS_FIXEDFILEINFO))
      return "";
    char text[48];
    std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", static_cast<unsigned long>(HIWORD(fixed->dwFileVersionMS)),
                  static_cast<unsigned long>(LOWORD(fixed->dwFileVersionMS)),
                  static_cast<unsigned long>(HIWORD(fixed->dwFileVersionLS)),
                  static_cast<unsigned long>(LOWORD(fixed->dwFileVersionLS)));
    return text;
  } catch (...) {  // out of memory for the block: no version
    return "";
  }
}

}  // namespace qvu
