// Files the data tests work on: the real Access databases, and temporary copies of them
// that a test may damage or give a password.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qvu::test {

// A real database by name; fails the calling test (and returns the path anyway) when the
// file is missing from the tests' access folder, so a missing fixture never passes silently.
std::string RealDatabase(const std::string& name);

std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// A fresh temporary folder, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

 private:
  std::filesystem::path dir_;
};

// A copy of the empty Access 2000 database at path with password stored in its header ("" for
// none), written with the same encoder the settings-database writer uses.
void WriteDatabaseWithPassword(const std::string& path, const std::string& password);

}  // namespace qvu::test
