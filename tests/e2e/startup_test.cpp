// Start-up as a user meets it: the command line, the leftover work folder, the settings
// database in the current directory, and one copy per machine.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/e2e/ProgramRunner.h"
#include "tests/e2e/Settings.h"
#include "tests/harness/Harness.h"

namespace qvu::testing {
namespace {
namespace fs = std::filesystem;

const std::string kSettingsFailed = "接続情報の取得に失敗しました(SERVER.MDB)\n";

TEST(CommandLine, RefusedFormsShowTheirTextAndTouchNothing) {
  struct Case { std::vector<std::string> args; const char* err; } cases[] = {
      {{}, "引数の数に過不足があります\n"},
      {{"SHOP"}, "引数が不足しています\n"},
      {{"APP", "a.exe", "extra"}, "引数の値に誤りがあるか、または超過しています\n"},
      {{"APP", "a", "b", "c"}, "引数の数に過不足があります\n"},
      {{"SHOP", "001", "a.exe", "more"}, "引数の数に過不足があります\n"},
  };
  ProgramFolder folder;
  for (const auto& c : cases) {
    WriteFile(folder.path() + "tmp/leftover_1_bak", "old backup");
    // A garbage database: had the settings been read, their failure would show instead.
    WriteFile(folder.workDir() + "/SERVER.MDB", "not a database");
    WriteFile(folder.workDir() + "/DoraradOv.log", "old log");
    RunResult r = RunProgram(folder.exe(), {c.args, folder.workDir()});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(fs::exists(folder.path() + "tmp/leftover_1_bak")) << "tmp/ must stay untouched";
    EXPECT_FALSE(fs::exists(folder.workDir() + "/DoraradOv.log")) << "deleted before anything";
  }
}

TEST(CommandLine, AcceptedFormsReachThePreparation) {
  // Every accepted form clears the leftover work folder and goes on to the settings, which
  // are missing here: the run ends with the settings text.
  std::vector<std::vector<std::string>> cases = {
      {"APP"}, {"shop"}, {""}, {"APP", "target.exe"}, {"SHOP", "001"}, {"SHOP", "", "t.exe"}};
  ProgramFolder folder;
  for (const auto& args : cases) {
    WriteFile(folder.path() + "tmp/sub/leftover_1_bak", "old backup");
    RunResult r = RunProgram(folder.exe(), {args, folder.workDir()});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, kSettingsFailed) << (args.empty() ? "" : args[0]);
    EXPECT_FALSE(fs::exists(folder.path() + "tmp")) << "the leftover tmp/ is removed";
  }
}

TEST(Settings, AreLookedForInTheCurrentDirectoryOnly) {
  ProgramFolder folder;
  // A good database in the program folder is not found from another current directory.
  MakeSettingsDb(folder.path() + "SERVER.MDB", SettingsRows("127.0.0.1:1"));
  RunResult r = RunProgram(folder.exe(), {{"APP"}, folder.workDir()});
  EXPECT_EQ(r.err, kSettingsFailed);
  EXPECT_EQ(r.exitCode, 0);
}

TEST(Settings, GarbageOrTruncatedDatabaseFailsCleanly) {
  ProgramFolder folder;
  std::string good = folder.workDir() + "/good.mdb";
  MakeSettingsDb(good, SettingsRows("127.0.0.1:1"));
  std::string bytes = ReadFile(good);
  for (const std::string& content :
       {std::string("garbage, not an Access file"), bytes.substr(0, 5000), bytes.substr(0, 100),
        std::string()}) {
    WriteFile(folder.workDir() + "/SERVER.MDB", content);
    RunResult r = RunProgram(folder.exe(), {{"APP"}, folder.workDir()});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, kSettingsFailed);
  }
}

TEST(SingleInstance, SecondCopyIsRefusedAndAKilledCopyReleasesTheLock) {
  // The first copy waits on a service that accepts and never answers.
  SilentServer silent;
  ProgramFolder folder;
  MakeSettingsDb(folder.workDir() + "/SERVER.MDB",
                 SettingsRows("127.0.0.1:" + std::to_string(silent.Port())));
  pid_t first = StartProgram(folder.exe(), {{"APP"}, folder.workDir()});
  for (int i = 0; i < 200 && !LockIsHeld(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(LockIsHeld());

  ProgramFolder other;
  WriteFile(other.path() + "tmp/keep", "x");
  RunResult second = RunProgram(other.exe(), {{"APP"}, other.workDir()});
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_EQ(second.err, "既に起動しています\n");
  EXPECT_TRUE(fs::exists(other.path() + "tmp/keep")) << "nothing touched by the second copy";
  EXPECT_EQ(kill(first, 0), 0) << "the first copy runs on";

  KillProgram(first, SIGKILL);
  // A helper process the copy had forked at that instant holds the socket until the kernel
  // delivers its parent-death signal, a moment after the copy itself is reaped.
  for (int i = 0; i < 100 && LockIsHeld(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(LockIsHeld()) << "the kernel released the lock";
  RunResult after = RunProgram(other.exe(), {{"APP"}, other.workDir()});
  EXPECT_EQ(after.exitCode, 0);
  EXPECT_EQ(after.err, kSettingsFailed) << "a normal run, past the lock";
}

}  // namespace
}  // namespace qvu::testing
