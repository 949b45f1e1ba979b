// The path arithmetic and folder creation both platforms share; the operating-system side
// of the moves lives in FileOps_posix.cpp and FileOps_win32.cpp.
#include <filesystem>
#include <string>

#include "support/Filesystem.h"
#include "support/FileOps.h"

namespace qvu {
namespace {

size_t LastSeparator(const std::string& path) {
  for (size_t i = path.size(); i > 0; --i)
    if (IsPathSeparator(path[i - 1])) return i - 1;
  return std::string::npos;
}

}  // namespace

std::string StripTrailingSeparators(std::string path) {
  while (path.size() > 1 && IsPathSeparator(path.back())) path.pop_back();
  return path;
}

std::string ParentOf(const std::string& path) {
  std::string p = StripTrailingSeparators(path);
  size_t slash = LastSeparator(p);
  if (slash == std::string::npos) return ".";
  return slash == 0 ? p.substr(0, 1) : p.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  std::string p = StripTrailingSeparators(path);
  size_t slash = LastSeparator(p);
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

bool CreateDirectoryPath(const std::string& path) {
  try {
    if (DirectoryExists(path)) return true;
    if (path.empty()) return false;
    // The UTF-8 form: a plain string would be read in the ANSI code page on Windows.
    std::error_code ec;
    std::filesystem::create_directories(std::u8string(path.begin(), path.end()), ec);
    return DirectoryExists(path);
  } catch (...) {
    return false;
  }
}

}  // namespace qvu
