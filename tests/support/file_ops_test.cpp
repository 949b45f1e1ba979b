#include <gtest/gtest.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "support/Filesystem.h"
#include "support/LockedFile.h"
#include "tests/support/TempDir.h"

namespace qvu {
namespace {

namespace fs = std::filesystem;
using Tree = std::map<std::string, std::string>;

// A folder's content as relative path -> file content, "/" for a folder, "-> target" for a
// link, so that whole trees compare in one expectation.
Tree Snapshot(const std::string& root) {
  Tree tree;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    std::string rel = it->path().lexically_relative(root).generic_string();
    if (it->is_symlink())
      tree[rel] = "-> " + fs::read_symlink(it->path()).string();
    else if (it->is_directory())
      tree[rel] = "/";
    else
      tree[rel] = test::ReadFile(it->path().string());
  }
  return tree;
}

void Make(const std::string& root, const Tree& tree) {
  for (const auto& [rel, what] : tree) {
    std::string path = root + "/" + rel;
    fs::create_directories(fs::path(path).parent_path());
    if (what == "/")
      fs::create_directories(path);
    else if (what.rfind("-> ", 0) == 0)
      fs::create_symlink(what.substr(3), path);
    else
      test::WriteFile(path, what);
  }
}

double SecondsOf(const std::function<void()>& f) {
  auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

#ifndef _WIN32
std::string Revision(const std::string& file) {
  std::string value, error;
  return GetRevisionNo(file, 9, value, error) ? value : error;
}
#endif

class FileOps : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.ok()); }
  // Another file system than dir_ (tmpfs), holding user attributes too; tests across file
  // systems skip where the machine has none.
  bool OtherDevice() {
    struct stat a {}, b {};
    return other_.ok() && stat(dir_.path().c_str(), &a) == 0 &&
           stat(other_.path().c_str(), &b) == 0 && a.st_dev != b.st_dev;
  }
  test::TempDir dir_;
#ifdef _WIN32
  test::TempDir other_;  // a second folder on the one drive Wine gives a test
#else
  test::TempDir other_{"/dev/shm"};
#endif
};

// Windows compares names without regard to case and takes "\" as a separator beside "/".
#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

#ifndef _WIN32  // links, modes and user attributes
TEST_F(FileOps, ExistencePredicatesFollowLinks) {
  Make(dir_.path(), {{"file", "x"}, {"folder", "/"}, {"to-file", "-> file"},
                     {"to-folder", "-> folder"}, {"dangling", "-> missing"}});
  struct Case { const char* name; bool file, folder; } cases[] = {
      {"file", true, false},     {"folder", false, true}, {"to-file", true, false},
      {"to-folder", false, true}, {"dangling", false, false}, {"missing", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FileExists(dir_ / c.name), c.file) << c.name;
    EXPECT_EQ(DirectoryExists(dir_ / c.name), c.folder) << c.name;
  }
  EXPECT_FALSE(FileExists(""));
  EXPECT_FALSE(DirectoryExists(""));
}

#endif

TEST_F(FileOps, MissingSourcesAreNothingToDo) {
  Make(dir_.path(), {{"target", "old"}});
  double seconds = SecondsOf([&] {
    EXPECT_TRUE(MoveFileWithRetry(dir_ / "missing", dir_ / "target", 3));
    EXPECT_TRUE(MoveDirectory(dir_ / "missing", dir_ / "target2", 3));
    EXPECT_TRUE(RenameFileReplacing(dir_ / "missing", dir_ / "target"));
    EXPECT_TRUE(DeleteDirectoryTree(dir_ / "missing"));
  });
  EXPECT_LT(seconds, 0.5);  // no pause was taken
  EXPECT_EQ(Snapshot(dir_.path()), (Tree{{"target", "old"}}));
}

#ifndef _WIN32  // links, modes and user attributes
TEST_F(FileOps, FileMovesReplaceTheTargetAndCarryTheRevision) {
  if (!OtherDevice()) GTEST_SKIP() << "no second file system with user attributes";
  struct Case { const char* what; std::string from, to; } cases[] = {
      {"same file system", dir_ / "new.exe", dir_ / "app.exe"},
      {"into tmpfs", dir_ / "new.exe", other_ / "app.exe"},
      {"out of tmpfs", other_ / "new.exe", dir_ / "app.exe"},
  };
  for (const auto& c : cases) {
    test::WriteFile(c.to, "old");
    test::WriteFile(c.from, "new content");
    ASSERT_EQ(chmod(c.from.c_str(), 0751), 0);
    const struct timespec times[2] = {{1500000000, 0}, {1600000000, 123456789}};
    ASSERT_EQ(utimensat(AT_FDCWD, c.from.c_str(), times, 0), 0);
    std::string error;
    ASSERT_TRUE(SetRevisionNo(c.from, 9, "12", error)) << error;

    EXPECT_TRUE(MoveFileWithRetry(c.from, c.to, 3)) << c.what;
    EXPECT_FALSE(fs::exists(c.from)) << c.what;
    EXPECT_EQ(test::ReadFile(c.to), "new content") << c.what;
    EXPECT_EQ(Revision(c.to), "12") << c.what;
    struct stat st {};
    ASSERT_EQ(stat(c.to.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u) << c.what;
    EXPECT_EQ(st.st_mtim.tv_sec, 1600000000) << c.what;
    EXPECT_EQ(st.st_mtim.tv_nsec, 123456789) << c.what;
    // Nothing is left beside the target: no temporary copy.
    std::string folder = fs::path(c.to).parent_path();
    EXPECT_EQ(Snapshot(folder).size(), 1u) << c.what;
    fs::remove(c.to);
  }
}

#endif

TEST_F(FileOps, FailedMovesKeepTheSourceAndWaitAfterEveryTry) {
  Make(dir_.path(), {{"new.exe", "new"}, {"busy/inside", "x"}});
  struct Case { const char* what; std::string to; int tries; } cases[] = {
      {"a folder in the way", dir_ / "busy", 3},
      {"target folder missing", dir_ / "nowhere/app.exe", 1},
      {"target folder missing, other file system", other_ / "nowhere/app.exe", 1},
  };
  for (const auto& c : cases) {
    bool moved = true;
    double seconds = SecondsOf([&] { moved = MoveFileWithRetry(dir_ / "new.exe", c.to, c.tries); });
    EXPECT_FALSE(moved) << c.what;
    EXPECT_GE(seconds, 0.5 * c.tries) << c.what;
    EXPECT_EQ(test::ReadFile(dir_ / "new.exe"), "new") << c.what;
  }
}

TEST_F(FileOps, RenameFileReplacing) {
  struct Case { const char* what; Tree before; bool ok; Tree after; } cases[] = {
      {"onto an existing file", {{"a", "new"}, {"b", "old"}}, true, {{"b", "new"}}},
      {"to a free name", {{"a", "new"}}, true, {{"b", "new"}}},
      {"into a missing folder", {{"a", "new"}}, false, {{"a", "new"}}},
      {"a folder in the way", {{"a", "new"}, {"b/c", "x"}}, false,
       {{"a", "new"}, {"b", "/"}, {"b/c", "x"}}},
  };
  for (const auto& c : cases) {
    test::TempDir d;
    Make(d.path(), c.before);
    std::string to = std::string(c.what) == "into a missing folder" ? d / "x/b" : d / "b";
    EXPECT_EQ(RenameFileReplacing(d / "a", to), c.ok) << c.what;
    EXPECT_EQ(Snapshot(d.path()), c.after) << c.what;
  }
}

TEST_F(FileOps, CreateDirectoryPath) {
  Make(dir_.path(), {{"file", "x"}, {"have", "/"}});
  struct Case { std::string path; bool ok; } cases[] = {
      {dir_ / "have/a/b/c", true},  // three missing levels
      {dir_ / "have", true},
      {dir_ / "new/", true},
      {dir_ / "file/sub", false},
      {dir_ / "file", false},
      {"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CreateDirectoryPath(c.path), c.ok) << c.path;
    EXPECT_EQ(DirectoryExists(c.path), c.ok) << c.path;
  }
}

#ifndef _WIN32  // links, modes and user attributes
TEST_F(FileOps, DeleteDirectoryTreeNeverLeavesTheTree) {
  const Tree outside = {{"keep.txt", "keep"}, {"keepdir", "/"}, {"keepdir/inner", "i"}};
  const std::string out = dir_ / "outside";
  Make(out, outside);
  Make(dir_.path(), {{"tmp/a.txt", "a"}, {"tmp/sub/deeper/b.txt", "b"}, {"tmp/empty", "/"},
                     {"tmp/sub/to-file", "-> " + (out + "/keep.txt")},
                     {"tmp/sub/to-dir", "-> " + (out + "/keepdir")},
                     {"link-to-outside", "-> " + out}});
  ASSERT_EQ(chmod((dir_ / "tmp/a.txt").c_str(), 0400), 0);

  EXPECT_TRUE(DeleteDirectoryTree(dir_ / "tmp"));
  EXPECT_FALSE(fs::exists(dir_ / "tmp"));
  // A tree given as a link (with or without a final "/") loses the link, not its target.
  EXPECT_TRUE(DeleteDirectoryTree(dir_ / "link-to-outside/"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "link-to-outside")));
  EXPECT_EQ(Snapshot(out), outside);
  EXPECT_TRUE(DeleteDirectoryTree(dir_ / "tmp"));  // already gone
}

TEST_F(FileOps, MoveDirectoryMovesMergesAndCrossesFileSystems) {
  const Tree source = {{"a.txt", "new a"}, {"sub", "/"}, {"sub/b.txt", "b"},
                       {"sub/link", "-> ../a.txt"}};
  struct Case { const char* what; bool crossDevice; std::string to; Tree existing, after; } cases[] = {
      {"to a new name below missing folders", false, "x/y/dest", {}, source},
      {"merged into an existing folder", false, "dest",
       {{"a.txt", "old a"}, {"c.txt", "c"}, {"sub/d.txt", "d"}},
       {{"a.txt", "new a"}, {"c.txt", "c"}, {"sub", "/"}, {"sub/b.txt", "b"},
        {"sub/d.txt", "d"}, {"sub/link", "-> ../a.txt"}}},
      {"to another file system", true, "dest", {}, source},
      {"merged on another file system", true, "dest", {{"sub/d.txt", "d"}},
       {{"a.txt", "new a"}, {"sub", "/"}, {"sub/b.txt", "b"}, {"sub/d.txt", "d"},
        {"sub/link", "-> ../a.txt"}}},
  };
  for (const auto& c : cases) {
    if (c.crossDevice && !OtherDevice()) continue;
    test::TempDir from, to(c.crossDevice ? "/dev/shm" : "/tmp");
    Make(from / "src", source);
    std::string error;
    ASSERT_TRUE(SetRevisionNo(from / "src/sub/b.txt", 9, "7", error)) << error;
    ASSERT_EQ(chmod((from / "src/sub").c_str(), 0750), 0);
    if (!c.existing.empty()) Make(to / c.to, c.existing);

    EXPECT_TRUE(MoveDirectory(from / "src", to / c.to, 3)) << c.what;
    EXPECT_FALSE(fs::exists(from / "src")) << c.what;
    EXPECT_EQ(Snapshot(to / c.to), c.after) << c.what;
    EXPECT_EQ(Revision(to / (c.to + "/sub/b.txt")), "7") << c.what;
    if (c.existing.empty()) {
      struct stat st {};
      ASSERT_EQ(stat((to / (c.to + "/sub")).c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, 0750u) << c.what;
    }
  }
}

#endif

TEST_F(FileOps, MoveDirectoryOntoAFileFails) {
  Make(dir_.path(), {{"src/a", "a"}, {"dest", "file"}});
  bool moved = true;
  double seconds = SecondsOf([&] { moved = MoveDirectory(dir_ / "src", dir_ / "dest", 2); });
  EXPECT_FALSE(moved);
  EXPECT_GE(seconds, 1.0);
  EXPECT_EQ(Snapshot(dir_.path()), (Tree{{"src", "/"}, {"src/a", "a"}, {"dest", "file"}}));
}

TEST_F(FileOps, RemovalsAndFlushesReportWhatIsLeft) {
  Make(dir_.path(), {{"file", "x"}, {"empty", "/"}, {"full/inner", "i"}});
  struct Case { const char* what; std::function<bool()> call; bool ok; } cases[] = {
      {"a file", [&] { return RemoveFile(dir_ / "file"); }, true},
      {"a missing file", [&] { return RemoveFile(dir_ / "missing"); }, true},
      {"a file below a missing folder", [&] { return RemoveFile(dir_ / "missing/file"); }, true},
      {"a folder as a file", [&] { return RemoveFile(dir_ / "empty"); }, true},
      {"a full folder", [&] { return RemoveFolderIfEmpty(dir_ / "full/"); }, true},
      {"an empty folder", [&] { return RemoveFolderIfEmpty(dir_ / "empty"); }, true},
      {"a missing folder", [&] { return RemoveFolderIfEmpty(dir_ / "missing"); }, true},
      {"flushing a folder", [&] { return FlushFolder(dir_ / "full"); }, true},
      {"flushing a missing folder", [&] { return FlushFolder(dir_ / "missing"); }, true},
  };
  for (const auto& c : cases) EXPECT_EQ(c.call(), c.ok) << c.what;
  // What was not the call's to remove stays.
  EXPECT_EQ(Snapshot(dir_.path()), (Tree{{"full", "/"}, {"full/inner", "i"}}));
}

TEST(EntryNames, CompareAsTheFileSystemDoes) {
  struct Case { const char* a; const char* b; bool same; } cases[] = {
      {"_bak", "_bak", true},
      {"_bak", "_BAK", kWindows},
      {"journal.txt", "Journal.TXT", kWindows},
      {"\xC3\xA4pfel", "\xC3\x84PFEL", kWindows},  // beyond ASCII: "äpfel", "ÄPFEL"
      {"_bak", "_bak2", false},
      {"_bak", "_bak ", false},
      {"", "", true},
  };
  for (const auto& c : cases) EXPECT_EQ(SameEntryName(c.a, c.b), c.same) << c.a << " " << c.b;
}

TEST(EntryNames, ParentAndBaseName) {
  struct Case { const char* path; const char* parent; const char* base; } cases[] = {
      {"a/b/c", "a/b", "c"},
      {"a/b/", "a", "b"},
      {"/a", "/", "a"},
      {"name", ".", "name"},
      {"a\\b", kWindows ? "a" : ".", kWindows ? "b" : "a\\b"},
      {"C:\\work\\_bak\\", kWindows ? "C:\\work" : ".", kWindows ? "_bak" : "C:\\work\\_bak\\"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParentOf(c.path), c.parent) << c.path;
    EXPECT_EQ(BaseName(c.path), c.base) << c.path;
  }
}

TEST_F(FileOps, LockedFileIsHeldOnceAndStaysRemovable) {
  const std::string path = dir_ / "journal";
  std::unique_ptr<LockedFile> first, second;
  ASSERT_EQ(LockedFile::Acquire(path, first), LockedFile::Status::Held);
  EXPECT_EQ(LockedFile::Acquire(path, second), LockedFile::Status::Busy);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(LockedFile::Acquire(dir_ / "missing/journal", second), LockedFile::Status::Failed);

  ASSERT_TRUE(first->Append("one\n"));
  ASSERT_TRUE(first->Append("two\n"));
  std::string bytes;
  EXPECT_TRUE(first->ReadAll(bytes, 100));
  EXPECT_EQ(bytes, "one\ntwo\n");
  EXPECT_FALSE(first->ReadAll(bytes, 7));  // larger than asked for
  EXPECT_EQ(test::ReadFile(path), "one\ntwo\n");

  // The holder removes the file it holds (Windows lets the name go with the last handle);
  // once it lets go the lock is free again.
  EXPECT_TRUE(first->Remove());
  EXPECT_TRUE(first->Remove());
  first.reset();
  EXPECT_FALSE(fs::exists(path));
  ASSERT_EQ(LockedFile::Acquire(path, second), LockedFile::Status::Held);
  EXPECT_TRUE(second->ReadAll(bytes, 100));
  EXPECT_EQ(bytes, "");
}

#ifdef _WIN32  // read-only files, names beyond ASCII
TEST_F(FileOps, FolderMovesMergeAsTheShellDoes) {
  const Tree source = {{"a.txt", "new a"}, {"sub", "/"}, {"sub/b.txt", "b"}};
  struct Case { const char* what; std::string to; Tree existing, after; } cases[] = {
      {"to a new name below missing folders", "x/y/dest", {}, source},
      {"merged into an existing folder", "dest", {{"a.txt", "old a"}, {"c.txt", "c"}, {"sub/d.txt", "d"}},
       {{"a.txt", "new a"}, {"c.txt", "c"}, {"sub", "/"}, {"sub/b.txt", "b"}, {"sub/d.txt", "d"}}},
  };
  for (const auto& c : cases) {
    test::TempDir d;
    Make(d / "src", source);
    if (!c.existing.empty()) Make(d / c.to, c.existing);
    EXPECT_TRUE(MoveDirectory(d / "src", d / c.to, 3)) << c.what;
    EXPECT_FALSE(fs::exists(d / "src")) << c.what;
    EXPECT_EQ(Snapshot(d / c.to), c.after) << c.what;
  }
}

TEST_F(FileOps, ShellDeletesTreesWithReadOnlyFiles) {
  Make(dir_.path(), {{"tmp/a.txt", "a"}, {"tmp/sub/deeper/b.txt", "b"}, {"tmp/empty", "/"}, {"keep.txt", "k"}});
  ASSERT_TRUE(SetFileAttributesW(fs::path(dir_ / "tmp/a.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(DeleteDirectoryTree(dir_ / "tmp\\"));
  EXPECT_EQ(Snapshot(dir_.path()), (Tree{{"keep.txt", "k"}}));
}

TEST_F(FileOps, BackslashPathsAndNamesBeyondAscii) {
  const std::string folder = dir_ / "\xE4\xBD\x9C\xE6\xA5\xAD";  // "作業"
  ASSERT_TRUE(CreateDirectoryPath(folder + "\\sub"));
  test::WriteFile(dir_ / "new.exe", "new");
  std::string target = folder + "\\sub\\app.exe";
  EXPECT_TRUE(MoveFileWithRetry(dir_ / "new.exe", target, 3));
  EXPECT_TRUE(FileExists(target));
  EXPECT_FALSE(FileExists(dir_ / "new.exe"));
  EXPECT_TRUE(RenameFileReplacing(target, folder + "/sub/APP.EXE"));
  EXPECT_TRUE(FileExists(folder + "/sub/app.exe"));  // the same name to this file system
  EXPECT_TRUE(DeleteDirectoryTree(folder));
  EXPECT_FALSE(DirectoryExists(folder));
}
#endif

}  // namespace
}  // namespace qvu
