// Test support for the archiver library: scratch folders, archives written byte by byte or
// through libarchive, the archives real tools made at build time, and a view of a folder
// tree. Paths and names are UTF-8 on both platforms.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace qvu::test {

namespace fs = std::filesystem;

// A UTF-8 path as a filesystem path, and back ("/" as separator).
fs::path Native(const std::string& utf8);
std::string Utf8(const fs::path& path);

// A fresh folder under the temporary directory, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const fs::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return Utf8(path_ / Native(name)); }

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

// An archive made by a real tool when the tests were built (make_tool_archives.sh).
std::string ToolArchive(const std::string& name);

// The UTF-8 text in CP932, as Japanese Windows tools store names.
std::string ToCp932(const std::string& utf8);
// The UTF-8 text in the system's ANSI code page, as the library takes its command line.
std::string ToAnsi(const std::string& utf8);

void WriteFile(const std::string& path, const std::string& data);
std::string ReadFile(const std::string& path);

// Every path under root relative to it, sorted: folders end with "/", links show
// " -> target", files ": contents" (contents up to 40 bytes).
std::vector<std::string> Tree(const fs::path& root);

// The names the library file exports, sorted.
std::vector<std::string> ExportedNames(const std::string& library);

// An archive path whose reader waits until the test sends the bytes: a named pipe.
class ArchivePipe {
 public:
  explicit ArchivePipe(const ScratchDir& dir);
  ~ArchivePipe();
  ArchivePipe(const ArchivePipe&) = delete;
  ArchivePipe& operator=(const ArchivePipe&) = delete;
  const std::string& path() const { return path_; }
  // Waits for the reader to open the pipe, writes the bytes and closes it.
  bool Send(const std::string& bytes);

 private:
  std::string path_;
  intptr_t handle_;
};

}  // namespace qvu::test
