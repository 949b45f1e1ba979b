#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>

#include "support/Common.h"
#include "support/DateTime.h"
#include "support/Filesystem.h"
#include "tests/support/TempDir.h"

namespace qvu {
namespace {

// Local time is fixed for these tests: Japan, no daylight saving.
class TimeStamps : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "JST-9", 1);
    tzset();
    ASSERT_TRUE(dir_.ok());
  }
  static time_t Local(int y, int mo, int d, int h, int mi, int s) {
    std::tm tm{};
    tm.tm_year = y - 1900, tm.tm_mon = mo - 1, tm.tm_mday = d;
    tm.tm_hour = h, tm.tm_min = mi, tm.tm_sec = s, tm.tm_isdst = 0;
    return mktime(&tm);
  }
  static void SetTimes(const std::string& path, time_t access, time_t write) {
    const struct timespec times[2] = {{access, 0}, {write, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
  }
  test::TempDir dir_;
};

TEST_F(TimeStamps, FileStampIsLocalTimeCutToTheEvenSecondWithinFatYears) {
  struct Case { int y, mo, d, h, mi, s; const char* want; } cases[] = {
      {2024, 3, 4, 23, 59, 59, "2024/03/04 23:59:58"},  // never rounds into the next day
      {2024, 3, 4, 12, 34, 56, "2024/03/04 12:34:56"},
      {1980, 1, 1, 0, 0, 1, "1980/01/01"},
      {2107, 12, 31, 23, 59, 59, "2107/12/31 23:59:58"},
      {1979, 12, 31, 23, 59, 59, nullptr},  // before FAT time: no stamp
      {2108, 1, 1, 0, 0, 0, nullptr},
  };
  const std::string file = dir_ / "a.dat";
  test::WriteFile(file, "x");
  for (const auto& c : cases) {
    SetTimes(file, Local(2000, 1, 1, 0, 0, 0), Local(c.y, c.mo, c.d, c.h, c.mi, c.s));
    TDateTime stamp = GetFileTimeStamp(file);
    if (c.want)
      EXPECT_EQ(DateTimeToText(stamp), c.want) << c.y << "-" << c.mo << "-" << c.d;
    else
      EXPECT_EQ(stamp, 0) << c.y;
  }
}

TEST_F(TimeStamps, FileStampOfNoFileIsZero) {
  ASSERT_EQ(mkdir((dir_ / "sub").c_str(), 0700), 0);
  for (const std::string& name : {std::string(), dir_ / "missing", dir_ / "sub"})
    EXPECT_EQ(GetFileTimeStamp(name), 0) << name;
}

TEST_F(TimeStamps, FolderStampByKind) {
  const std::string sub = dir_ / "sub";
  ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
  SetTimes(sub, Local(2019, 1, 2, 3, 4, 5), Local(2018, 7, 5, 9, 3, 7));
  struct Case { int kind; const char* want; } cases[] = {
      {2, "2018/07/05 09:03:07"},  // seconds kept as they are, odd or not
      {1, "2019/01/02 03:04:05"},
  };
  for (const auto& c : cases) {
    std::string out;
    EXPECT_TRUE(GetDirectoryTimeStamp(sub, c.kind, out)) << c.kind;
    EXPECT_EQ(out, c.want) << c.kind;
  }
}

TEST_F(TimeStamps, FolderCreationStampWhereTheFileSystemKeepsIt) {
  // The creation time cannot be set, so it is checked against the clock around mkdir.
  const std::string sub = dir_ / "new";
  auto text = [](time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    strftime(buf, sizeof buf, "%Y/%m/%d %H:%M:%S", &tm);
    return std::string(buf);
  };
  std::string before = text(time(nullptr));
  ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
  std::string after = text(time(nullptr));
  struct statx sx {};
  ASSERT_EQ(statx(AT_FDCWD, sub.c_str(), 0, STATX_BTIME, &sx), 0);
  std::string out = "untouched";
  bool kept = sx.stx_mask & STATX_BTIME;
  EXPECT_EQ(GetDirectoryTimeStamp(sub, 0, out), kept);
  if (!kept) GTEST_SKIP() << "no creation times on " << dir_.path();
  EXPECT_GE(CompareOrdinalUtf16(out, before), 0) << out;
  EXPECT_LE(CompareOrdinalUtf16(out, after), 0) << out;
}

TEST_F(TimeStamps, FolderStampFailsAndLeavesTheTextAlone) {
  const std::string sub = dir_ / "sub";
  ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
  test::WriteFile(dir_ / "file", "x");
  ASSERT_EQ(symlink("missing", (dir_ / "dangling").c_str()), 0);
  struct Case { std::string path; int kind; } cases[] = {
      {dir_ / "file", 2},   {dir_ / "missing", 2}, {dir_ / "dangling", 2},
      {sub + "/", 2},       {sub, 3},              {sub, -1},
      {"", 2},
  };
  for (const auto& c : cases) {
    std::string out = "untouched";
    EXPECT_FALSE(GetDirectoryTimeStamp(c.path, c.kind, out)) << c.path << " " << c.kind;
    EXPECT_EQ(out, "untouched") << c.path;
  }
}

}  // namespace
}  // namespace qvu
