// The wrapper against the real library and against stand-ins for its failures.
#include "archive/7_zip.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "tests/archive/ArchiveFixtures.h"

namespace qvu {
namespace {

using test::ArchivePipe;
using test::ReadFile;
using test::ScratchDir;
using test::ToAnsi;
using test::WriteFile;
using test::WriteZip;
namespace fs = std::filesystem;

const std::string kLibrary = QVU_SEVENZIP32_PATH;

TEST(Get7ZipMessage, GivesTheTextOfEachCode) {
  struct Case { int32_t code; const char* text; } cases[] = {
      {0, "成功しました"}, {-100, "DLLファイルが見つかりません"}, {-101, "引数がありません"},
      {-102, "DLLリンクエラー"}, {-103, "実行中"}, {-104, "実行可能状態"}, {-105, "失敗しました"},
      {-106, "DLLの実行に失敗しました"}, {5, "定義外メッセージ"}, {-107, "定義外メッセージ"}};
  for (const Case& c : cases) EXPECT_EQ(Get7ZipMessage(c.code), c.text) << c.code;
}

TEST(MakeUnzipCommandLine, QuotesBothPathsAndAddsTheFixedSwitches) {
  struct Case { const char* archive; const char* folder; const char* want; } cases[] = {
      {"/app/NEWFILE/a.zip", "/app/NEWFILE/", "x \"/app/NEWFILE/a.zip\"  -o\"/app/NEWFILE/\" -hide -aoa "},
      {"C:\\app\\NEWFILE\\a.zip", "C:\\app\\NEWFILE\\", "x \"C:\\app\\NEWFILE\\a.zip\"  -o\"C:\\app\\NEWFILE\\\" -hide -aoa "},
      {"/app/NEWFILE/a\"b.zip", "/app/\"x\"/", "x \"/app/NEWFILE/a\"\"b.zip\"  -o\"/app/\"\"x\"\"/\" -hide -aoa "},
      {"/app/NEWFILE/a.zip", "", "x \"/app/NEWFILE/a.zip\"  -hide -aoa "},
  };
  for (const Case& c : cases) EXPECT_EQ(MakeUnzipCommandLine(c.archive, c.folder), c.want) << c.archive;
}

TEST(MakeUnzipCommandLine, BuildsLinesTheLibraryRuns) {
  ScratchDir dir;
  fs::create_directories(dir.path() / "NEWFILE");
  fs::create_directories(dir.path() / "cwd");
  struct Case { std::string archive, folder, landsIn; };
  std::vector<Case> cases = {
      {dir / "NEWFILE/a.zip", dir / "NEWFILE/", dir / "NEWFILE"},
      {dir / "NEWFILE/b.zip", dir / "out\\", dir / "out"},
      {dir / "NEWFILE/c.zip", "", dir / "cwd"},
  };
#ifndef _WIN32
  cases.push_back({dir / "NEWFILE/a\"b.zip", dir / "quoted\\", dir / "quoted"});  // no quotes in Windows names
#endif
  fs::path previous = fs::current_path();
  fs::current_path(dir.path() / "cwd");  // where an extraction without a folder lands
  for (const Case& c : cases) {
    WriteZip(c.archive, {{"sub/file.txt", c.archive}});
    EXPECT_EQ(Exec7Zip(kLibrary, ToAnsi(MakeUnzipCommandLine(c.archive, c.folder))), k7ZipSuccess) << c.archive;
    EXPECT_EQ(ReadFile(c.landsIn + "/sub/file.txt"), c.archive) << c.archive;
  }
  fs::current_path(previous);
}

TEST(Exec7Zip, ReportsEachOutcome) {
  ScratchDir dir;
  WriteZip(dir / "good.zip", {{"a.txt", "a"}});
  WriteFile(dir / "corrupt.zip", std::string("PK\x03\x04", 4) + std::string(200, '\x7F'));
  std::string good = ToAnsi(MakeUnzipCommandLine(dir / "good.zip", dir / "out/"));
  std::string corrupt = ToAnsi(MakeUnzipCommandLine(dir / "corrupt.zip", dir / "out/"));
  struct Case { std::string library, commandLine; int32_t want; } cases[] = {
      {kLibrary, good, k7ZipSuccess},
      {"", good, k7ZipNoLibraryName},
      {kLibrary, "", k7ZipNoCommandLine},
      {dir / "7-ZIP32.DLL", good, k7ZipLinkError},
      {dir / "good.zip", good, k7ZipLinkError},  // not a library at all
      {QVU_FAKE_OTHER_LIBRARY, good, k7ZipNoEntryPoint},
      {kLibrary, corrupt, k7ZipFailed},
      {QVU_FAKE_BUSY_LIBRARY, good, k7ZipFailed},  // its own code 3 is not passed on
  };
  for (const Case& c : cases) EXPECT_EQ(Exec7Zip(c.library, c.commandLine), c.want) << c.library << " " << c.commandLine;
  EXPECT_EQ(ReadFile(dir / "out/a.txt"), "a");
}

TEST(Get7ZipRunning, ReportsEachOutcome) {
  ScratchDir dir;
  struct Case { std::string library; int32_t want; } cases[] = {
      {kLibrary, k7ZipIdle},
      {"", k7ZipLinkError},
      {dir / "missing.so", k7ZipLinkError},
      {QVU_FAKE_OTHER_LIBRARY, k7ZipNoEntryPoint},
      {QVU_FAKE_BUSY_LIBRARY, k7ZipRunning},
  };
  for (const Case& c : cases) EXPECT_EQ(Get7ZipRunning(c.library), c.want) << c.library;
}

// The archive comes through a pipe, so the extraction waits for the test to send it and is
// running for as long as the test needs.
TEST(Get7ZipRunning, SeesACommandRunningInAnotherThread) {
  ScratchDir dir;
  // A streamed format: under Wine a zip read through a pipe fails as damaged.
  test::WriteTar(dir / "a.tar.gz", {{"a.txt", test::TarType::File, "piped"}}, true);
  ArchivePipe pipe(dir);
  auto extraction = std::async(std::launch::async,
                               [&] { return Exec7Zip(kLibrary, ToAnsi(MakeUnzipCommandLine(pipe.path(), dir / "out/"))); });
  for (int i = 0; i < 1000 && Get7ZipRunning(kLibrary) != k7ZipRunning; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(Get7ZipRunning(kLibrary), k7ZipRunning);
  // A second command while one runs is refused, not run beside it.
  EXPECT_EQ(Exec7Zip(kLibrary, ToAnsi(MakeUnzipCommandLine(dir / "a.tar.gz", dir / "second/"))), k7ZipFailed);
  EXPECT_TRUE(pipe.Send(ReadFile(dir / "a.tar.gz")));
  EXPECT_EQ(extraction.get(), k7ZipSuccess);
  EXPECT_EQ(ReadFile(dir / "out/a.txt"), "piped");
  EXPECT_FALSE(fs::exists(dir / "second/a.txt"));
  EXPECT_EQ(Get7ZipRunning(kLibrary), k7ZipIdle);
}

}  // namespace
}  // namespace qvu
