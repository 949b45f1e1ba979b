#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <functional>

#include "support/Filesystem.h"
#include "support/PeVersion.h"
#include "tests/support/TempDir.h"

namespace qvu {
namespace {

const std::string kImages = QVU_PE_FIXTURES;

TEST(GetFileVersion, ReadsTheFixedFileVersionOfImages) {
  struct Case { const char* file; const char* want; } cases[] = {
      {"app64.exe", "5.0.12.3"},     // PE32+; the product version 9.8.7.6 is not taken
      {"app32.exe", "5.0.12.3"},     // PE32
      {"lib64.dll", "1.65535.0.10"}, // a part uses all 16 bits
      {"lib32.dll", "1.65535.0.10"},
      {"nover64.exe", ""},           // resources, but none of the version type
      {"bare32.exe", ""},            // no resource directory at all
  };
  for (const auto& c : cases) EXPECT_EQ(GetFileVersion(kImages + "/" + c.file), c.want) << c.file;
}

TEST(GetFileVersion, AnythingButAnImageGivesEmpty) {
  test::TempDir dir;
  ASSERT_TRUE(dir.ok());
  test::WriteFile(dir / "readme.txt", "MZ but then only text\n");
  test::WriteFile(dir / "empty", "");
#ifndef _WIN32
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);  // must not block the reader
#endif
  for (const char* name : {"readme.txt", "empty", "fifo", "missing", ""})
    EXPECT_EQ(GetFileVersion(dir / name), "") << name;
  EXPECT_EQ(GetFileVersion(dir.path()), "");
  EXPECT_EQ(GetFileVersion(""), "");
}

// Damage to one field of a real image, located without the reader's own walk: the version
// block by its UTF-16 key, the resource root by the ".rsrc" section header.
size_t FindVersionBlock(const std::string& image) {
  const std::string key("V\0S\0_\0V\0E\0R\0S\0I\0O\0N\0_\0I\0N\0F\0O\0", 30);
  size_t at = image.find(key);
  return at == std::string::npos ? at : at - 6;
}

size_t FindResourceRoot(const std::string& image) {
  size_t header = image.find(std::string(".rsrc\0\0\0", 8));
  if (header == std::string::npos) return header;
  uint32_t raw = 0;
  std::memcpy(&raw, image.data() + header + 20, 4);
  return raw;
}

void Put32(std::string& image, size_t at, uint32_t v) { std::memcpy(&image[at], &v, 4); }

TEST(ReadPeFileVersion, DamagedImagesGiveEmptyOrTheirNumbers) {
  const std::string image = test::ReadFile(kImages + "/app64.exe");
  const size_t block = FindVersionBlock(image), root = FindResourceRoot(image);
  ASSERT_NE(block, std::string::npos);
  ASSERT_NE(root, std::string::npos);
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
    const char* want;
  } cases[] = {
      {"intact", [](std::string&) {}, "5.0.12.3"},
      {"all bits of both words set",
       [&](std::string& s) { Put32(s, block + 48, ~0u), Put32(s, block + 52, ~0u); },
       "65535.65535.65535.65535"},
      {"fixed-info signature broken", [&](std::string& s) { s[block + 40] ^= 1; }, ""},
      {"block shorter than its fixed info", [&](std::string& s) { s[block] = 60, s[block + 1] = 0; }, ""},
      {"no value in the root block", [&](std::string& s) { s[block + 2] = 0, s[block + 3] = 0; }, ""},
      {"another key", [&](std::string& s) { s[block + 6] = 'W'; }, ""},
      // The type entry's subdirectory is the root itself: the walk must still end.
      {"cyclic resource directory", [&](std::string& s) { Put32(s, root + 16 + 4, 0x80000000u); }, ""},
      {"subdirectory far outside the file", [&](std::string& s) { Put32(s, root + 16 + 4, 0xFFFFFFF0u); }, ""},
      {"no MZ", [](std::string& s) { s[0] = 'X'; }, ""},
      {"PE header offset past the end", [](std::string& s) { Put32(s, 0x3C, 0xFFFFFFF0u); }, ""},
      {"cut inside the resource section", [&](std::string& s) { s.resize(block + 50); }, ""},
  };
  for (const auto& c : cases) {
    std::string damaged = image;
    c.damage(damaged);
    EXPECT_EQ(ReadPeFileVersion(reinterpret_cast<const uint8_t*>(damaged.data()), damaged.size()),
              c.want)
        << c.what;
  }
}

}  // namespace
}  // namespace qvu
