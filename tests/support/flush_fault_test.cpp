// The moves' flushes, with the fault-injection library preloaded: a file system that has
// nothing to flush does not turn a done move into a failure, and a flush that fails to write
// does, at once.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "support/Filesystem.h"
#include "tests/support/TempDir.h"

namespace qvu {
namespace {

namespace fs = std::filesystem;

// Sets the library's variables for one test and clears them after.
class Faults {
 public:
  Faults(const std::string& root, std::initializer_list<std::pair<const char*, std::string>> vars) {
    setenv("QVU_FAULT_ROOT", root.c_str(), 1);
    for (const auto& [name, value] : vars) {
      setenv(name, value.c_str(), 1);
      names_.push_back(name);
    }
  }
  ~Faults() {
    unsetenv("QVU_FAULT_ROOT");
    for (const char* name : names_) unsetenv(name);
  }

 private:
  std::vector<const char*> names_;
};

class FlushFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dlsym(RTLD_DEFAULT, "qvu_fault_loaded")) << "run with the fault-injection library preloaded";
    ASSERT_TRUE(dir_.ok());
    root_ = fs::canonical(dir_.path()).string();
  }
  void Stage() {
    fs::remove_all(root_ + "/new");
    fs::create_directories(root_ + "/new/sub");
    test::WriteFile(root_ + "/new.exe", "new");
    test::WriteFile(root_ + "/new/sub/b.txt", "b");
  }
  test::TempDir dir_;
  std::string root_;
};

TEST_F(FlushFaults, NothingToFlushLeavesADoneMoveDone) {
  for (const char* fault : {"EINVAL:dir", "EROFS:dir", "ENOTSUP:dir", "EINVAL:file", "ENOTSUP:file"}) {
    Stage();
    Faults f(root_, {{"QVU_FAULT_FSYNC", fault}});
    EXPECT_TRUE(FlushFolder(root_)) << fault;
    EXPECT_TRUE(MoveFileWithRetry(root_ + "/new.exe", root_ + "/app.exe", 3)) << fault;
    EXPECT_EQ(test::ReadFile(root_ + "/app.exe"), "new") << fault;
    EXPECT_TRUE(MoveDirectory(root_ + "/new", root_ + "/dest", 3)) << fault;
    EXPECT_EQ(test::ReadFile(root_ + "/dest/sub/b.txt"), "b") << fault;
  }
}

TEST_F(FlushFaults, AFailedWriteBackFailsTheMoveWithoutAnotherTry) {
  // Another try would find the file in place and, the error reported once, a clean flush.
  Stage();
  {
    Faults f(root_, {{"QVU_FAULT_FSYNC", "EIO:file"}});
    EXPECT_FALSE(MoveFileWithRetry(root_ + "/new.exe", root_ + "/app.exe", 3));
  }
  EXPECT_EQ(test::ReadFile(root_ + "/app.exe"), "new") << "moved, but not known to be on disk";
  EXPECT_FALSE(fs::exists(root_ + "/new.exe"));

  Faults f(root_, {{"QVU_FAULT_FSYNC", "EIO:dir"}});
  EXPECT_FALSE(FlushFolder(root_));
  EXPECT_FALSE(MoveDirectory(root_ + "/new", root_ + "/dest", 3));
  EXPECT_EQ(test::ReadFile(root_ + "/dest/sub/b.txt"), "b");
}

TEST_F(FlushFaults, ATryAfterAMoveReportedAsFailedFindsItDone) {
  Stage();
  Faults f(root_, {{"QVU_FAULT_RENAME_LIE", root_ + "/new.exe"}});
  EXPECT_TRUE(MoveFileWithRetry(root_ + "/new.exe", root_ + "/app.exe", 3));
  EXPECT_EQ(test::ReadFile(root_ + "/app.exe"), "new");
}

}  // namespace
}  // namespace qvu
