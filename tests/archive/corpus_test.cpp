// Damaged and hostile archives against the library itself, built here with the address and
// undefined-behaviour sanitizers (on Linux; mingw has none, so the Windows build runs the
// same mutations under Wine plain): deterministic mutations of real archives must never
// crash it, and nothing may be written outside the output folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>

#include "archive/sevenzip32/SevenZip32.h"
#include "tests/archive/ArchiveFixtures.h"

// Mutations of each archive; under Wine every file call goes through its server, so the
// Windows build runs fewer.
#ifndef QVU_CORPUS_RUNS
#define QVU_CORPUS_RUNS 600
#endif

namespace qvu::test {
namespace {

std::string Mutate(std::string bytes, std::mt19937& random) {
  auto pick = [&](size_t limit) { return std::uniform_int_distribution<size_t>(0, limit - 1)(random); };
  const unsigned char interesting[] = {0x00, 0xFF, 0x7F, 0x80, 0x01, 0xFE, 0x2F, 0x5C, 0x2E};
  int edits = 1 + static_cast<int>(pick(8));
  for (int i = 0; i < edits && !bytes.empty(); ++i) {
    size_t at = pick(bytes.size());
    switch (pick(6)) {
      case 0: bytes[at] = static_cast<char>(bytes[at] ^ (1 << pick(8))); break;
      case 1: bytes[at] = static_cast<char>(interesting[pick(sizeof interesting)]); break;
      case 2: bytes[at] = static_cast<char>(pick(256)); break;
      case 3: bytes.resize(at); break;
      case 4: bytes.insert(at, bytes.substr(pick(bytes.size()), pick(64))); break;
      case 5:  // a length or offset field taken to an extreme
        for (size_t k = at; k < std::min(bytes.size(), at + 4); ++k) bytes[k] = static_cast<char>(pick(2) ? 0xFF : 0x00);
        break;
    }
  }
  return bytes;
}

TEST(SevenZip32Corpus, MutatedArchivesNeverCrashOrEscape) {
  ScratchDir dir;
#ifdef _WIN32
  // The tools are the build machine's: their archives were made when the tests were built.
  for (const char* base : {"info.zip", "p7zip.7z", "lzma.zip", "gnu.tar.gz"})
    WriteFile(dir / base, ReadFile(ToolArchive(base)));
#else
  fs::create_directories(dir.path() / "src/日本語/空");
  fs::create_directories(dir.path() / "src/a/b");
  WriteFile(dir / "src/日本語/ファイル.txt", std::string(3000, 'j'));
  WriteFile(dir / "src/a/b/c.txt", "deep file contents, repeated repeated repeated repeated");
  WriteFile(dir / "src/top.txt", "top");
  const std::string make = "cd '" + (dir / "src") + "' && zip -qr ../info.zip * && 7z a -bd -bso0 ../p7zip.7z * && "
                           "7z a -bd -bso0 -tzip -mm=LZMA ../lzma.zip * && tar czf ../gnu.tar.gz *";
  ASSERT_EQ(std::system(make.c_str()), 0);
#endif
  WriteZip(dir / "sjis.zip", {{ToCp932("ソフト/表.txt"), "sjis"}, {ToCp932("空/"), ""}, {"名前.txt", "u", true},
                              {"link", "a/b", false, 0120777}});
  WriteTar(dir / "links.tar", {{"lib/v1/x.so", TarType::File, "so"}, {"lib/cur", TarType::Symlink, "v1"},
                               {"lib/copy.so", TarType::Hardlink, "lib/v1/x.so"}, {"d", TarType::Directory, ""}});

  fs::path sandbox = dir.path() / "sandbox";
  fs::create_directories(sandbox);
  const std::string mutant = dir / "mutant";
  const std::string out = Utf8(sandbox / "out");
  auto names = [](const fs::path& folder) {
    std::vector<std::string> list;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) list.push_back(Utf8(entry.path().filename()));
    std::sort(list.begin(), list.end());
    return list;
  };
  WriteFile(mutant, "");
  const std::vector<std::string> around = names(dir.path());
  std::mt19937 random(20240506);
  const char* bases[] = {"info.zip", "p7zip.7z", "lzma.zip", "gnu.tar.gz", "sjis.zip", "links.tar"};
  for (const char* base : bases) {
    const std::string original = ReadFile(dir / base);
    ASSERT_FALSE(original.empty()) << base;
    for (int run = 0; run < QVU_CORPUS_RUNS; ++run) {
      WriteFile(mutant, Mutate(original, random));
      char output[128];
      int code = SevenZip(nullptr, ToAnsi("x \"" + mutant + "\" -o\"" + out + "/\" -hide -aoa").c_str(), output, sizeof output);
      ASSERT_TRUE(code >= SEVENZIP_OK && code <= SEVENZIP_INTERNAL) << base << " run " << run << ": " << code;
      ASSERT_LT(std::strlen(output), sizeof output);
      ASSERT_EQ(names(sandbox), std::vector<std::string>{"out"}) << base << " run " << run;
      ASSERT_EQ(names(dir.path()), around) << base << " run " << run;
      std::error_code ignored;
      fs::remove_all(Native(out), ignored);
    }
  }
}

}  // namespace
}  // namespace qvu::test
