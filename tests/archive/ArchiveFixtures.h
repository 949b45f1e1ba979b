// Test support for the archiver library: scratch folders, archives written byte by byte or
// through libarchive, and a view of a folder tree.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qvu::test {

namespace fs = std::filesystem;

// A fresh folder under the temporary directory, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const fs::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

// One stored (uncompressed) ZIP entry, its name exactly as the bytes to store.
struct ZipEntry {
  std::string rawName;
  std::string data;
  bool utf8Flag = false;
  uint32_t unixMode = 0;  // 0: made on MS-DOS/Windows, no Unix mode; else the full st_mode
};
void WriteZip(const std::string& path, const std::vector<ZipEntry>& entries);

enum class TarType { File, Directory, Symlink, Hardlink, Fifo };
struct TarEntry {
  std::string name;
  TarType type = TarType::File;
  std::string dataOrTarget;  // contents of a file; target of a link
};
// A pax tar, gzip-compressed when gzip is set.
void WriteTar(const std::string& path, const std::vector<TarEntry>& entries, bool gzip = false);

// The UTF-8 text in CP932, as Japanese Windows tools store names.
std::string ToCp932(const std::string& utf8);

void WriteFile(const std::string& path, const std::string& data);
std::string ReadFile(const std::string& path);
// Runs a shell command; true when it exits with 0.
bool Shell(const std::string& command);

// Every path under root relative to it, sorted: folders end with "/", links show
// " -> target", files ": contents" (contents up to 40 bytes).
std::vector<std::string> Tree(const fs::path& root);

}  // namespace qvu::test
