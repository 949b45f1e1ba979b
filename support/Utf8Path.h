// A UTF-8 path as the standard library's path, for portable code that opens files itself:
// on Windows a narrow path would be taken in the ANSI code page.
#pragma once

#include <filesystem>
#include <string>

namespace qvu {

inline std::filesystem::path Utf8Path(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

}  // namespace qvu
