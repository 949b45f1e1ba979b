// The run journal in-process: its records, the next start's recovery from a journal cut off at
// any byte, the journals a start must refuse, and an undo after a move that failed to flush.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/RunJournal.h"
#include "app/TreeBackup.h"
#include "support/Filesystem.h"
#include "support/LockedFile.h"
#include "tests/app/AppFixture.h"
#include "tests/app/CurrentDirectory.h"
#include "tests/e2e/ProgramRunner.h"

namespace qvu::testing {
namespace {
namespace fs = std::filesystem;

const std::string kSettingsFailed = "接続情報の取得に失敗しました(SERVER.MDB)";

JournalContent SamplePlan() {
  JournalContent plan;
  plan.processId = 4242;
  JournalEntry file{JournalEntry::Kind::File, "a.txt", "NEWFILE/a.txt", "NEWFILE/a.txt", "tmp/a.txt_4242_bak"};
  // Names may hold the record's own separators and escapes.
  JournalEntry odd{JournalEntry::Kind::File, "x/tab\there%41\nline", "NEWFILE/o", "NEWFILE/o.zip", "tmp/o_4242_bak"};
  JournalEntry folder{JournalEntry::Kind::Folder, "images", "NEWFILE/images", "NEWFILE/images.zip",
                      "tmp/images_4242_bak"};
  plan.entries = {file, odd, folder};
  return plan;
}

JournalStep Step(JournalStep::Kind kind, size_t entry, bool existed, std::string folder = {}) {
  JournalStep s;
  s.kind = kind;
  s.entry = entry;
  s.existed = existed;
  s.folder = std::move(folder);
  return s;
}

std::string SampleJournal() {
  return FormatJournalStart(SamplePlan()) + FormatJournalStep(Step(JournalStep::Kind::Backup, 0, true)) +
         FormatJournalStep(Step(JournalStep::Kind::Folder, 0, false, "x")) +
         FormatJournalStep(Step(JournalStep::Kind::Place, 2, true)) + FormatJournalCommit();
}

TEST(JournalFormat, ReadsBackWhatItWroteWhateverTheNames) {
  JournalContent read;
  ASSERT_EQ(ParseJournal(SampleJournal(), read), JournalRead::Ok);
  EXPECT_EQ(read.processId, 4242u);
  ASSERT_EQ(read.entries.size(), 3u);
  EXPECT_EQ(read.entries[1].target, "x/tab\there%41\nline");
  EXPECT_EQ(read.entries[2].kind, JournalEntry::Kind::Folder);
  ASSERT_EQ(read.steps.size(), 3u);
  EXPECT_EQ(read.steps[1].folder, "x");
  EXPECT_TRUE(read.steps[2].existed);
  EXPECT_TRUE(read.committed);
}

TEST(JournalFormat, EveryPrefixReadsAsTheRecordsItHoldsWhole) {
  const std::string whole = SampleJournal();
  size_t lastCount = 0;
  for (size_t n = 0; n <= whole.size(); ++n) {
    JournalContent read;
    ASSERT_EQ(ParseJournal(whole.substr(0, n), read), JournalRead::Ok) << n;
    // Records only come whole, in order: the count never drops and a record counts only
    // once its line end is there.
    size_t count = read.entries.size() + read.steps.size() + (read.committed ? 1 : 0);
    size_t lines = static_cast<size_t>(std::count(whole.begin(), whole.begin() + static_cast<long>(n), '\n'));
    EXPECT_EQ(count, lines == 0 ? 0 : lines - 1) << n;
    EXPECT_GE(count, lastCount);
    lastCount = count;
  }
}

TEST(JournalFormat, RefusesWhatNoRunOfThisProgramWrote) {
  const std::string start = FormatJournalStart(SamplePlan());
  const std::string backup = FormatJournalStep(Step(JournalStep::Kind::Backup, 0, true));
  std::string newer = start;
  newer.replace(newer.find("\t1\t"), 3, "\t2\t");
  std::string flipped = backup;
  flipped[2] = flipped[2] == '0' ? '1' : '0';
  JournalContent bad = SamplePlan();
  bad.entries[0].target = "../outside";
  JournalContent work = SamplePlan();
  work.entries[0].target = "tmp/a.txt";
  struct Case { const char* what; std::string bytes; JournalRead want; } cases[] = {
      {"a newer format", newer, JournalRead::Newer},
      {"another file", "not a journal\nat all\n", JournalRead::Unreadable},
      {"a damaged record before an intact one", start + flipped + backup, JournalRead::Unreadable},
      {"a damaged last record", start + backup + flipped, JournalRead::Ok},
      {"a target outside the program folder", FormatJournalStart(bad), JournalRead::Unreadable},
      {"a target in the work folder", FormatJournalStart(work), JournalRead::Unreadable},
      {"a step for no candidate", start + FormatJournalStep(Step(JournalStep::Kind::Place, 9, true)),
       JournalRead::Unreadable},
      {"a step after the commit", start + FormatJournalCommit() + backup, JournalRead::Unreadable},
  };
  for (const auto& c : cases) {
    JournalContent read;
    EXPECT_EQ(ParseJournal(c.bytes, read), c.want) << c.what;
  }
}

// A program folder whose run has been downloaded: a replaced file with a revision number, a
// new file in new folders, and a folder entry merged into a folder with the shop's own files.
class Recovery : public ::testing::Test {
 protected:
  Recovery() : exe_(f_.exePath), cwd_(f_.root_) {}

  void MakeBefore() {
    for (const auto& e : fs::directory_iterator(exe_)) fs::remove_all(e.path());
    WriteFile(exe_ + "a.txt", "old a");
    std::string error;
    ASSERT_TRUE(SetRevisionNo(exe_ + "a.txt", 9, "3", error)) << error;
    WriteFile(exe_ + "images/a.png", "old png");
    WriteFile(exe_ + "images/keep.png", "the shop's own");
  }
  void StageRun() {
    WriteFile(exe_ + "NEWFILE/a.txt", "new a");
    WriteFile(exe_ + "NEWFILE/n.txt", "new n");
    WriteFile(exe_ + "NEWFILE/images/a.png", "new png");
    WriteFile(exe_ + "NEWFILE/images/sub/b.png", "b");
    TMainFrm& frm = *f_.frm;
    frm._downloadPath = exe_ + "NEWFILE/";
    frm._downloadFiles.clear();
    for (const char* name : {"a.txt", "n.txt", "images"}) {
      STDownloadFiles c;
      c.version.FILENAME = name;
      c.version.ZIPFILENAME = name;
      c.localPath = frm._downloadPath + name;
      frm._downloadFiles.push_back(c);
    }
    frm._downloadFiles[0].version.REVISE_NO = "4";
    frm._downloadFiles[1].version.DIRECTORY = "x/y";
    frm._downloadFiles[2].version.NOTE = "directory";
  }
  // The next start, up to where it reads the settings (there are none here).
  std::vector<std::string> Start() {
    RecordingView view;
    TXmlMod xml;
    startAborted = false;
    TMainFrm frm(xml, view, ProgramContext{{"APP"}, exe_ + "QueltaVersionUp"});
    return view.errors;
  }
  FolderState State() { return StateOf(exe_, {"NEWFILE"}); }

  AppFixture f_;
  std::string exe_;
  CurrentDirectory cwd_;
};

TEST_F(Recovery, AJournalCutOffAtAnyByteIsTakenBack) {
  MakeBefore();
  const FolderState before = State();
  StageRun();
  ASSERT_TRUE(f_.frm->UpdateFiles()) << f_.frm->_errorMessage;
  ASSERT_NE(State(), before);
  const std::string journal = ReadFile(exe_ + "tmp/run.journal");
  f_.frm.reset();  // the process ends without its commit

  EXPECT_EQ(Start(), std::vector<std::string>{kSettingsFailed});
  EXPECT_EQ(State(), before) << Difference(State(), before);
  EXPECT_FALSE(fs::exists(exe_ + "tmp"));
  EXPECT_FALSE(fs::exists(exe_ + "NEWFILE/n.txt")) << "the staged downloads go too";

  // Cut off anywhere, the journal announces no more than happened: on a folder where nothing
  // happened, every prefix leaves it as it was.
  for (size_t n = 0; n <= journal.size(); ++n) {
    MakeBefore();
    WriteFile(exe_ + "tmp/run.journal", journal.substr(0, n));
    ASSERT_EQ(Start(), std::vector<std::string>{kSettingsFailed}) << n;
    ASSERT_EQ(State(), before) << n << "\n" << Difference(State(), before);
    ASSERT_FALSE(fs::exists(exe_ + "tmp")) << n;
  }
}

TEST_F(Recovery, JournalsItCannotTrustStopTheStartAndKeepEverything) {
  std::string newer = FormatJournalStart(SamplePlan());
  newer.replace(newer.find("\t1\t"), 3, "\t2\t");
  const std::string path = exe_ + "tmp/run.journal";
  for (const std::string& bytes : {newer, std::string("not a journal\nat all\n")}) {
    MakeBefore();
    WriteFile(exe_ + "tmp/a.txt_4242_bak", "the only copy");
    WriteFile(path, bytes);
    EXPECT_EQ(Start(), std::vector<std::string>{path + "の読み込みに失敗しました"});
    EXPECT_EQ(ReadFile(exe_ + "tmp/a.txt_4242_bak"), "the only copy");
    EXPECT_EQ(ReadFile(path), bytes);
  }

  // A journal some other copy holds: its run is alive.
  WriteFile(path, "");
  std::unique_ptr<LockedFile> held;
  ASSERT_EQ(LockedFile::Acquire(path, held), LockedFile::Status::Held);
  EXPECT_EQ(Start(), std::vector<std::string>{path + "は別のバージョンアップで使用中です"});
  EXPECT_EQ(ReadFile(exe_ + "tmp/a.txt_4242_bak"), "the only copy");
}

TEST_F(Recovery, AnUndoThatCannotFinishKeepsTheBackupsForTheNextStart) {
  MakeBefore();
  const FolderState before = State();
  StageRun();
  ASSERT_TRUE(f_.frm->UpdateFiles()) << f_.frm->_errorMessage;
  // Something stands where the old file has to go back.
  fs::remove(exe_ + "a.txt");
  WriteFile(exe_ + "a.txt/in the way", "x");
  EXPECT_FALSE(f_.frm->RestoreFiles());
  EXPECT_EQ(f_.frm->_errorMessage, exe_ + "a.txtの復元に失敗しました。次回の起動時に再試行します");
  EXPECT_TRUE(fs::exists(exe_ + "tmp/run.journal"));
  EXPECT_FALSE(fs::exists(exe_ + "n.txt")) << "what could go back went back";
  EXPECT_EQ(ReadFile(exe_ + "images/keep.png"), "the shop's own");

  EXPECT_EQ(Start(), std::vector<std::string>{exe_ + "a.txtの復元に失敗しました。次回の起動時に再試行します"});
  EXPECT_TRUE(fs::exists(exe_ + "tmp/run.journal")) << "nothing deleted by a start that cannot finish";
  fs::remove_all(exe_ + "a.txt");
  EXPECT_EQ(Start(), std::vector<std::string>{kSettingsFailed});
  EXPECT_EQ(State(), before) << Difference(State(), before);
  EXPECT_FALSE(fs::exists(exe_ + "tmp"));
}

TEST_F(Recovery, AMoveThatFailedToFlushIsStillTakenBack) {
  ASSERT_TRUE(dlsym(RTLD_DEFAULT, "qvu_fault_loaded")) << "run with the fault-injection library preloaded";
  MakeBefore();
  const FolderState before = State();
  StageRun();
  f_.frm->_downloadFiles.erase(f_.frm->_downloadFiles.begin());  // n.txt first: a new file
  // Only below x/, where the new file goes: the journal's own flushes work.
  setenv("QVU_FAULT_ROOT", (fs::canonical(exe_).string() + "/x").c_str(), 1);
  setenv("QVU_FAULT_FSYNC", "EIO:file", 1);
  const bool applied = f_.frm->UpdateFiles();
  unsetenv("QVU_FAULT_FSYNC");
  unsetenv("QVU_FAULT_ROOT");
  EXPECT_FALSE(applied);
  EXPECT_EQ(f_.frm->_errorMessage, exe_ + "NEWFILE/n.txtのファイルコピーに失敗しました");
  EXPECT_TRUE(fs::exists(exe_ + "x/y/n.txt")) << "the rename was done before the flush failed";
  EXPECT_TRUE(f_.frm->RestoreFiles()) << f_.frm->_errorMessage;
  EXPECT_EQ(State(), before) << Difference(State(), before);
}

TEST(BackupTree, RefusesAFolderThatHoldsItsOwnBackup) {
  TempFolder dir("qvu-tree");
  const std::string root = dir.Path();
  WriteFile(root + "/images/a.png", "a");
  for (const std::string& source : {root, root + "/", root + "/images/.."}) {
    EXPECT_FALSE(BackupTree(source, root + "/tmp/x_1_bak")) << source;
    EXPECT_FALSE(fs::exists(root + "/tmp")) << source;
  }
  EXPECT_FALSE(BackupTree(root + "/images", root + "/images/sub/images_1_bak"));
  EXPECT_TRUE(BackupTree(root + "/images", root + "/tmp/images_1_bak"));
  EXPECT_EQ(ReadFile(root + "/tmp/images_1_bak/a.png"), "a");
}

}  // namespace
}  // namespace qvu::testing
