// A fresh folder for one test, removed with everything in it afterwards.
#pragma once

#ifndef _WIN32
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace qvu::test {

class TempDir {
 public:
#ifdef _WIN32
  // Windows has no mkdtemp: a random name, taken only if this call made the folder. The path is
  // UTF-8 and "/" separated, as the program's own.
  explicit TempDir(const std::string& base = Utf8(std::filesystem::temp_directory_path())) {
    std::random_device seed;
    for (int i = 0; i < 16 && path_.empty(); ++i) {
      std::string candidate = base + "/qvu-disk-" + std::to_string(seed());
      std::error_code ec;
      if (std::filesystem::create_directory(std::u8string(candidate.begin(), candidate.end()), ec))
        path_ = candidate;
    }
  }
  static std::string Utf8(const std::filesystem::path& path) {
    std::u8string text = path.generic_u8string();
    return std::string(text.begin(), text.end());
  }
#else
  explicit TempDir(const std::string& base = "/tmp") {
    std::string pattern = base + "/qvu-disk-XXXXXX";
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
#endif
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(std::u8string(path_.begin(), path_.end()), ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace qvu::test
