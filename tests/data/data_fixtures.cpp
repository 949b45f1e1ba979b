#include "tests/data/data_fixtures.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>

#include "data/JetPassword.h"

namespace qvu::test {

std::string RealDatabase(const std::string& name) {
  std::string path = std::string(QVU_ACCESS_DATA) + "/" + name;
  EXPECT_TRUE(std::filesystem::is_regular_file(path)) << "missing test database " << path;
  return path;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TempDir::TempDir() {
  std::string templ = (std::filesystem::temp_directory_path() / "qvu-data-XXXXXX").string();
  if (::mkdtemp(templ.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  dir_ = templ;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void WriteDatabaseWithPassword(const std::string& path, const std::string& password) {
  std::vector<uint8_t> bytes = ReadBytes(RealDatabase("empty-access2000.mdb"));
  ASSERT_GE(bytes.size(), 4096u);
  ASSERT_TRUE(JetEncodePassword(std::span<uint8_t>(bytes.data(), 4096), password));
  WriteBytes(path, bytes);
}

}  // namespace qvu::test
