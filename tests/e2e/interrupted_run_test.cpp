// Runs cut off where a salon PC loses power or the updater is killed: the built program,
// with the fault-injection library preloaded, is killed, stopped or made to fail at the
// calls that change the program folder, and the next start has to put the folder right by
// itself. The table of those calls comes from a traced clean run, so a new step of the run
// cannot escape the sweep.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "support/Filesystem.h"
#include "tests/e2e/ProgramRunner.h"
#include "tests/e2e/Settings.h"
#include "tests/e2e/VersionList.h"
#include "tests/harness/Harness.h"

namespace qvu::testing {
namespace {
namespace fs = std::filesystem;

const char* const kListPath = "/quelta/api/office/gvermgr";
const char* const kRestoreFailed = "の復元に失敗しました。次回の起動時に再試行します";
const char* const kAnotherUpdate = "は別のバージョンアップで使用中です";

// Old enough for every entry of the list below that carries a FILE_DT.
void MakeOld(const std::string& path) {
  const struct timespec times[2] = {{1577836800, 0}, {1577836800, 0}};  // 2020-01-01 UTC
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

void SetRevision(const std::string& path, const std::string& revision) {
  std::string error;
  ASSERT_TRUE(SetRevisionNo(path, 9, revision, error)) << error;
}

// The program folder as the shop sees it. tmp/ is checked on its own; NEWFILE/ as a folder
// is left by every run, what lies in it is part of the state.
FolderState State(const std::string& folder) {
  FolderState state = StateOf(folder, {"tmp"});
  state.erase("NEWFILE");
  return state;
}

std::vector<std::string> Lines(const std::string& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class InterruptedRun : public ::testing::Test {
 protected:
  InterruptedRun() : cert_(CertificateAuthority::Shared().Issue("localhost")), service_(cert_) {
    const std::vector<Entry> list = {
        {{"FILENAME", "app.exe"}, {"ZIPFILENAME", "app.exe"}, {"VER_NO", "1.2.0.5"}},
        {{"FILENAME", "a.txt"}, {"ZIPFILENAME", "a.txt"}, {"FILE_DT", kListed}},
        {{"FILENAME", "b.txt"}, {"ZIPFILENAME", "b.txt"}, {"REVISE_NO", "4"}},
        {{"FILENAME", "data.bin"}, {"ZIPFILENAME", "data.bin"}, {"FILE_DT", kListed}},
        {{"FILENAME", "conf.ini"}, {"ZIPFILENAME", "conf.ini"}, {"REVISE_NO", "8"}, {"DIRECTORY", "etc\\shop"}},
        {{"FILENAME", "readme.txt"}, {"ZIPFILENAME", "readme.zip"}, {"FILE_DT", kListed}},
        {{"FILENAME", "tool.exe"}, {"ZIPFILENAME", "tool.zip"}, {"DIRECTORY", "bin"}},
        {{"FILENAME", "new1.txt"}, {"ZIPFILENAME", "new1.txt"}, {"DIRECTORY", "added/deeper"}},
        {{"FILENAME", "new2.txt"}, {"ZIPFILENAME", "new2.txt"}, {"DIRECTORY", "added\\other"}, {"REVISE_NO", "1"}},
        {{"FILENAME", "c.txt"}, {"ZIPFILENAME", "c.txt"}},
        {{"FILENAME", "images"}, {"ZIPFILENAME", "images.zip"}, {"NOTE", "directory"}, {"FILE_DT", kListed}},
        {{"FILENAME", "lib.dll"}, {"ZIPFILENAME", "lib.dll"}, {"DIRECTORY", "lib"}},
    };
    service_.SetRoute("GET", kListPath,
                      Route::Ok(VersionListXml(list), {{"Content-Type", "text/xml; charset=UTF-8"}}));
    service_.SetFile("app.exe", PeImage("1.2.0.5"));
    service_.SetFile("a.txt", "new a");
    service_.SetFile("b.txt", "new b");
    service_.SetFile("data.bin", std::string(300000, 'e'));
    service_.SetFile("conf.ini", "[new]\n");
    service_.SetFile("readme.zip", MakeZip({{"readme.txt", "new readme"}}));
    service_.SetFile("tool.zip", MakeZip({{"tool.exe", "new tool"}}));
    service_.SetFile("new1.txt", "new one");
    service_.SetFile("new2.txt", "new two");
    service_.SetFile("c.txt", "new c");
    service_.SetFile("images.zip", MakeZip({{"images/a.png", "new a.png"}, {"images/sub/b.png", "b.png"}}));
    service_.SetFile("lib.dll", "new lib");
    settingsDb_ = scratch_ / "SERVER.MDB";
    MakeSettingsDb(settingsDb_, SettingsRows("localhost:" + std::to_string(service_.Port())));
  }

  // A program folder as it is before the run: old files from 2020, the shop's own files
  // beside the folder entry's, revision numbers on two of them.
  std::unique_ptr<ProgramFolder> Fresh() {
    auto folder = std::make_unique<ProgramFolder>(true, true);
    const std::string p = folder->path();
    WriteFile(p + "app.exe", PeImage("1.2.0.4"));
    WriteFile(p + "a.txt", "old a");
    WriteFile(p + "b.txt", "old b");
    SetRevision(p + "b.txt", "3");
    WriteFile(p + "data.bin", std::string(200000, 'd'));
    WriteFile(p + "etc/shop/conf.ini", "[old]\n");
    SetRevision(p + "etc/shop/conf.ini", "7");
    WriteFile(p + "readme.txt", "old readme");
    WriteFile(p + "images/a.png", "old a.png");
    WriteFile(p + "images/keep.png", "the shop's own");
    WriteFile(p + "images/old/c.png", "c.png");
    for (const char* f : {"app.exe", "a.txt", "b.txt", "data.bin", "readme.txt", "images/old", "images"})
      MakeOld(p + f);
    fs::copy_file(settingsDb_, folder->workDir() + "/SERVER.MDB");
    return folder;
  }

  // Another program folder in the same state, hard links, attributes and times included.
  std::unique_ptr<ProgramFolder> CopyOf(const ProgramFolder& from) {
    auto folder = std::make_unique<ProgramFolder>(true, true);
    std::string cmd = "cp -a";
    for (const auto& e : fs::directory_iterator(from.path())) {
      const std::string name = e.path().filename().string();
      if (name != "QueltaVersionUp" && name != "7-ZIP32.DLL") cmd += " '" + e.path().string() + "'";
    }
    cmd += " '" + folder->path() + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    fs::copy_file(settingsDb_, folder->workDir() + "/SERVER.MDB");
    return folder;
  }

  RunResult Run(const ProgramFolder& folder, const std::string& answer, std::vector<std::string> env = {}) {
    return RunProgram(folder.exe(), Options(folder, answer, std::move(env)));
  }

  RunOptions Options(const ProgramFolder& folder, const std::string& answer, std::vector<std::string> env) {
    RunOptions o({"APP"}, folder.workDir());
    o.input = answer;
    o.extraEnv = std::move(env);
    o.extraEnv.push_back("SSL_CERT_FILE=" + CertificateAuthority::Shared().RootFile());
    return o;
  }

  // The preloaded library, counting the calls that change this program folder.
  std::vector<std::string> Faults(const ProgramFolder& folder, std::vector<std::string> more) {
    more.push_back("LD_PRELOAD=" QVU_FAULT_LIBRARY);
    more.push_back("QVU_FAULT_ROOT=" + fs::canonical(folder.path()).string());
    return more;
  }

  // A run killed before the k-th call. Its flushes are skipped: a killed process loses
  // nothing the kernel holds, so they would only cost time (what they guard against, a
  // power cut, is argued where the journal is written).
  RunResult Killed(const ProgramFolder& folder, long k, const std::string& answer = "y\n") {
    return Run(folder, answer, Faults(folder, {"QVU_FAULT_KILL_AT=" + std::to_string(k), "QVU_FAULT_FSYNC=skip:any"}));
  }

  // The calls a clean run makes, one line each: "index<TAB>call<TAB>path[<TAB>path]".
  std::vector<std::string> TraceCleanRun(const ProgramFolder& folder) {
    const std::string trace = scratch_ / "trace";
    fs::remove(trace);
    RunResult r = Run(folder, "y\n", Faults(folder, {"QVU_FAULT_TRACE=" + trace}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("12件中 12件更新しました"), std::string::npos) << r.out;
    return Lines(trace);
  }

  // The index of the first traced call that moves `from` (relative to the program folder).
  static long IndexOfMoveFrom(const std::vector<std::string>& table, const std::string& from) {
    for (const std::string& line : table)
      if (line.find("\trename\t") != std::string::npos &&
          line.find("/NEWFILE/" + from + "\t") != std::string::npos)
        return std::stol(line);
    return -1;
  }

  // The last call that changes the program folder outside its work folders.
  static long LastPlacement(const std::vector<std::string>& table, const std::string& root) {
    long last = -1;
    for (const std::string& line : table) {
      std::vector<std::string> f;
      std::stringstream in(line);
      for (std::string part; std::getline(in, part, '\t');) f.push_back(part);
      for (size_t i = 2; i < f.size(); ++i) {
        std::string rel = f[i].substr(std::min(f[i].size(), root.size() + 1));
        if (f[i].rfind(root, 0) == 0 && rel.rfind("tmp", 0) != 0 && rel.rfind("NEWFILE", 0) != 0)
          last = std::stol(f[0]);
      }
    }
    return last;
  }

  static constexpr const char* kListed = "2021/01/01 00:00:00";

  Certificate cert_;
  TestService service_;
  TempFolder scratch_{"qvu-interrupted"};
  std::string settingsDb_;
};

TEST_F(InterruptedRun, AKillAtAnyChangeLeavesTheFolderAsBeforeOrAsAfterTheRun) {
  auto clean = Fresh();
  const auto before = State(clean->path());
  const RunResult listing = Run(*clean, "n\n");
  ASSERT_EQ(listing.exitCode, 0) << listing.err;
  ASSERT_NE(listing.out.find("images\n"), std::string::npos) << listing.out;
  const std::vector<std::string> table = TraceCleanRun(*clean);
  const auto after = State(clean->path());
  ASSERT_FALSE(fs::exists(clean->path() + "tmp"));
  const std::string current = Run(*clean, "n\n").out;
  ASSERT_EQ(current.find("images"), std::string::npos) << "the applied run is current: " << current;
  ASSERT_GT(table.size(), 60u) << "the sweep covers the whole run";
  const long lastPlacement = LastPlacement(table, fs::canonical(clean->path()).string());

  const auto start = std::chrono::steady_clock::now();
  long firstAfter = 0;
  for (long k = 1; k <= static_cast<long>(table.size()); ++k) {
    SCOPED_TRACE("killed before " + table[k - 1]);
    auto folder = Fresh();
    RunResult killed = Killed(*folder, k);
    ASSERT_EQ(killed.exitCode, -1) << "the kill came: " << killed.out << killed.err;

    RunResult next = Run(*folder, "n\n");
    EXPECT_EQ(next.exitCode, 0);
    EXPECT_EQ(next.err, "");
    const auto state = State(folder->path());
    const bool asBefore = state == before, asAfter = state == after;
    EXPECT_TRUE(asBefore || asAfter) << "as before:\n" << Difference(state, before) << "as after:\n" << Difference(state, after);
    EXPECT_FALSE(fs::exists(folder->path() + "tmp"));
    EXPECT_EQ(next.out, asAfter ? current : listing.out) << "the next plan lists what is still to do";
    // Once the run stands, every later kill leaves it standing; it stands only once every
    // candidate is in place.
    if (firstAfter > 0) {
      EXPECT_TRUE(asAfter);
    }
    if (asAfter && firstAfter == 0) firstAfter = k;
    if (HasFatalFailure() || (HasFailure() && k > 3)) break;
  }
  EXPECT_GT(firstAfter, lastPlacement) << "the run stood before its last change";
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  RecordProperty("kill_points", static_cast<int>(table.size()));
  RecordProperty("sweep_seconds", static_cast<int>(seconds));
  std::printf("kill sweep: %zu points in %.1f s\n", table.size(), seconds);
}

TEST_F(InterruptedRun, ARecoveryKilledAtAnyStepIsFinishedByTheStartAfterIt) {
  auto clean = Fresh();
  const auto before = State(clean->path());
  const std::string listing = Run(*clean, "n\n").out;
  const std::vector<std::string> table = TraceCleanRun(*clean);
  // Cut off just before its last change, the run has the most to take back.
  const long kill = LastPlacement(table, fs::canonical(clean->path()).string());

  auto cutOff = Fresh();
  ASSERT_EQ(Killed(*cutOff, kill).exitCode, -1);
  auto traced = CopyOf(*cutOff);
  const std::string trace = scratch_ / "recovery";
  RunResult recovered = Run(*traced, "n\n", Faults(*traced, {"QVU_FAULT_TRACE=" + trace}));
  ASSERT_EQ(recovered.err, "");
  ASSERT_EQ(State(traced->path()), before) << Difference(State(traced->path()), before);
  const std::vector<std::string> steps = Lines(trace);
  ASSERT_GT(steps.size(), 10u);
  std::printf("recovery sweep: %zu points\n", steps.size());

  for (size_t m = 1; m <= steps.size(); ++m) {
    SCOPED_TRACE("recovery killed before " + steps[m - 1]);
    auto folder = CopyOf(*cutOff);
    ASSERT_EQ(Killed(*folder, static_cast<long>(m), "n\n").exitCode, -1);
    RunResult next = Run(*folder, "n\n");
    EXPECT_EQ(next.err, "");
    EXPECT_EQ(next.out, listing);
    EXPECT_EQ(State(folder->path()), before) << Difference(State(folder->path()), before);
    EXPECT_FALSE(fs::exists(folder->path() + "tmp"));
    if (HasFailure()) break;
  }
}

TEST_F(InterruptedRun, AFailedRestoreKeepsItsBackupsForTheNextStart) {
  auto clean = Fresh();
  const auto before = State(clean->path());
  const std::string listing = Run(*clean, "n\n").out;
  const long placeB = IndexOfMoveFrom(TraceCleanRun(*clean), "b.txt");
  ASSERT_GT(placeB, 0);

  // Every rename fails from the placement of b.txt on, the undo's included.
  auto folder = Fresh();
  const std::string p = folder->path();
  RunResult failed = Run(*folder, "y\n", Faults(*folder, {"QVU_FAULT_FAIL_FROM=" + std::to_string(placeB),
                                                          "QVU_FAULT_FAIL_CALLS=rename,renameat,renameat2"}));
  EXPECT_EQ(failed.exitCode, 0);
  EXPECT_EQ(failed.err, p + "NEWFILE/b.txtのファイルコピーに失敗しました\n" + p + "b.txt" + kRestoreFailed + "\n");
  EXPECT_TRUE(fs::exists(p + "tmp/run.journal"));
  bool backupKept = false;
  for (const auto& e : fs::directory_iterator(p + "tmp"))
    backupKept = backupKept || (e.path().filename().string().rfind("b.txt_", 0) == 0 && ReadFile(e.path()) == "old b");
  EXPECT_TRUE(backupKept) << "the old b.txt waits in tmp/";

  RunResult next = Run(*folder, "n\n");
  EXPECT_EQ(next.exitCode, 0);
  EXPECT_EQ(next.err, "");
  EXPECT_EQ(next.out, listing);
  EXPECT_EQ(State(p), before) << Difference(State(p), before);
  EXPECT_FALSE(fs::exists(p + "tmp"));
}

TEST_F(InterruptedRun, ASecondCopyInAnotherNetworkNamespaceLeavesALiveRunAlone) {
  std::string output;
  std::vector<std::string> unshare = {"unshare", "-n"};
  if (qvu::testing::RunProgram({"unshare", "-n", "true"}, &output) != 0) {
    unshare = {"unshare", "-rn"};
    if (qvu::testing::RunProgram({"unshare", "-rn", "true"}, &output) != 0)
      GTEST_SKIP() << "no network namespace can be made here: " << output;
  }
  auto clean = Fresh();
  const long placeConf = IndexOfMoveFrom(TraceCleanRun(*clean), "conf.ini");
  const auto after = State(clean->path());
  ASSERT_GT(placeConf, 0);

  auto folder = Fresh();
  const std::string p = folder->path();
  StartedProgram first(folder->exe(), Options(*folder, "y\n", Faults(*folder, {"QVU_FAULT_STOP_AT=" + std::to_string(placeConf)})));
  ASSERT_TRUE(first.WaitStopped(60)) << "the first copy stops in the middle of its apply";
  const auto halfway = State(p);

  RunOptions second({"-n", folder->exe(), "APP"}, folder->workDir());
  if (unshare[1] == "-rn") second.args[0] = "-rn";
  RunResult r = RunProgram("/usr/bin/unshare", second);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, p + "tmp/run.journal" + kAnotherUpdate + "\n");
  EXPECT_EQ(State(p), halfway) << "nothing taken back or removed under the live run";
  EXPECT_TRUE(fs::exists(p + "tmp/run.journal"));

  first.Continue();
  RunResult done = first.Wait();
  EXPECT_EQ(done.exitCode, 0) << done.err;
  EXPECT_NE(done.out.find("12件中 12件更新しました"), std::string::npos) << done.out;
  EXPECT_EQ(State(p), after) << Difference(State(p), after);
  EXPECT_FALSE(fs::exists(p + "tmp"));
}

}  // namespace
}  // namespace qvu::testing
