// Whether an entry of the version list is newer than what is on the disk.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>

#include "support/DateTime.h"
#include "support/Filesystem.h"
#include "tests/app/AppFixture.h"

namespace qvu::testing {
namespace {

void SetMtime(const std::string& path, int y, int mo, int d, int h, int mi, int s) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  struct timespec times[2] = {{mktime(&tm), 0}, {mktime(&tm), 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(IsVerChk, ComparesEachPositionOnItsOwn) {
  AppFixture f;
  struct Case { const char* have; const char* want; bool ok; bool update; } cases[] = {
      {"1.2.3.4", "1.2.3.5", true, true},   {"1.2.3.4", "1.2.3.4", true, false},
      {"2.0.0.0", "1.5.0.0", true, true},   // position 2 alone decides
      {"1.2.3.9", "1.2.3.10", true, true},  // numbers, not texts
      {"1.2.3.4", "1.2.3", false, false},   {"1.2.3.4", "1.2.3.4 beta", false, false},
      {"1.2", "1.3", true, true},           // fewer than four positions: those present
      {"1.x.0.0", "1.1.0.0", true, true},   // a non-number counts as 0
  };
  for (const auto& c : cases) {
    bool update = true;
    EXPECT_EQ(f.frm->IsVerChk(c.have, c.want, update), c.ok) << c.have << " " << c.want;
    if (c.ok) {
      EXPECT_EQ(update, c.update) << c.have << " " << c.want;
    }
  }
  bool untouched = true;
  EXPECT_FALSE(f.frm->IsVerChk("", "1.0.0.0", untouched));
  EXPECT_FALSE(f.frm->IsVerChk("1.0.0.0", "", untouched));
  EXPECT_TRUE(untouched) << "left as it was when a text is empty";
}

TEST(IsNewFile, FallsFromRevisionToTimeStamp) {
  AppFixture f;
  const std::string file = f.exePath + "data.txt";  // no version resource
  std::ofstream(file) << "content";
  SetMtime(file, 2020, 5, 1, 10, 0, 7);  // an uneven second: the stamp says 10:00:06
  std::string error;

  EXPECT_FALSE(f.frm->IsNewFile("", "1.0.0.0", "1", "2030/01/01"));
  EXPECT_TRUE(f.frm->IsNewFile(f.exePath + "missing.txt", "", "", ""));
  EXPECT_FALSE(f.frm->IsNewFile(file, "", "", "")) << "nothing to compare";

  // No version resource: the version is passed over, the time stamp decides.
  EXPECT_TRUE(f.frm->IsNewFile(file, "9.9.9.9", "", "2020/05/01 10:00:07"));
  EXPECT_FALSE(f.frm->IsNewFile(file, "9.9.9.9", "", "2020/05/01 10:00:06")) << "equal is not newer";
  EXPECT_FALSE(f.frm->IsNewFile(file, "", "", "2020/05/01 9:59:59"));

  // With a revision number kept with the file, the revision alone decides, as text.
  ASSERT_TRUE(SetRevisionNo(file, 9, "9", error)) << error;
  EXPECT_FALSE(f.frm->IsNewFile(file, "", "10", "2030/01/01")) << "\"10\" < \"9\" as texts";
  EXPECT_TRUE(f.frm->IsNewFile(file, "", "91", "2000/01/01"));
  EXPECT_FALSE(f.frm->IsNewFile(file, "", "9", "2030/01/01"));
  // An empty stored revision steps aside for the time stamp.
  ASSERT_TRUE(SetRevisionNo(file, 9, "", error)) << error;
  EXPECT_TRUE(f.frm->IsNewFile(file, "", "5", "2030/01/01"));
}

// FILE_DT as the service may write it: the platform's converter took one or two digits for
// each field but the year, a fraction after the seconds and a two-digit year; anything else
// leaves the operation with the conversion error.
TEST(IsNewFile, ReadsEveryFileDateTheServiceMaySend) {
  AppFixture f;
  const std::string file = f.exePath + "data.txt";
  std::ofstream(file) << "content";
  SetMtime(file, 2020, 5, 1, 10, 0, 7);  // the stamp says 10:00:06
  const int year = DecodeDateTime(Now()).year;
  const auto twoDigits = [](int y) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d/12/31", y % 100);
    return std::string(text);
  };
  enum Outcome { kNewer, kNotNewer, kRefused };
  struct Case { std::string fileDt; Outcome outcome; } cases[] = {
      {"2099/01/01 0:0:0", kNewer},          {"2099/01/01 00:00:00.000", kNewer},
      {"2020/5/1 10:0:7", kNewer},           {"2020/05/01 10:00:06.5", kNewer},
      {"2020/05/01 10:00:06.0", kNotNewer},  {"2020/05/01 10:0", kNotNewer},
      {"2020/5/1", kNotNewer},
      {"2020-05-01", kRefused},              {"2020/05/01 10:00:06.", kRefused},
      {"2020/05/01 10:00.5", kRefused},      {"2020/05/01 10:00:06,5", kRefused},
      {"202/05/01", kRefused},               {"2020/05/01 100:00:00", kRefused},
      {"2020/05/01 10:00:06 PM", kRefused},  {"2020/02/30", kRefused},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fileDt);
    if (c.outcome == kRefused) {
      EXPECT_THROW(f.frm->IsNewFile(file, "", "", c.fileDt), EConvertError);
    } else {
      EXPECT_EQ(f.frm->IsNewFile(file, "", "", c.fileDt), c.outcome == kNewer);
    }
  }

  // A two-digit year lies in the window around this year: its last year is ahead of a file
  // written now, its first a century back.
  const std::string now = f.exePath + "now.txt";
  std::ofstream(now) << "content";
  EXPECT_TRUE(f.frm->IsNewFile(now, "", "", twoDigits(year + 49)));
  EXPECT_FALSE(f.frm->IsNewFile(now, "", "", twoDigits(year - 50)));
}

TEST(IsNewDirectory, ComparesStampTexts) {
  AppFixture f;
  const std::string dir = f.exePath + "folder";
  std::filesystem::create_directory(dir);
  SetMtime(dir, 2018, 7, 5, 9, 3, 7);
  EXPECT_FALSE(f.frm->IsNewDirectory("", "2030/01/01 00:00:00"));
  EXPECT_TRUE(f.frm->IsNewDirectory(f.exePath + "missing", ""));
  EXPECT_FALSE(f.frm->IsNewDirectory(dir, ""));
  EXPECT_TRUE(f.frm->IsNewDirectory(dir, "2018/07/05 09:03:08"));
  EXPECT_FALSE(f.frm->IsNewDirectory(dir, "2018/07/05 09:03:07"));
  EXPECT_FALSE(f.frm->IsNewDirectory(dir + "/", "2030/01/01 00:00:00")) << "a trailing / finds nothing";
}

TEST(MakeDownloadList, ListsNewerEntriesInOrderAndOneOfEachName) {
  AppFixture f;
  std::ofstream(f.exePath + "current.txt") << "x";
  std::filesystem::create_directory(f.exePath + "Folder");
  auto entry = [](const char* file, const char* dir, const char* note, const char* ver) {
    STVersion_tb v;
    v.FILENAME = file;
    v.ZIPFILENAME = file;
    v.DIRECTORY = dir;
    v.NOTE = note;
    v.VER_NO = ver;
    return v;
  };
  f.frm->_versions = {entry("b.txt", "", "", "1.0.0.0"),       // missing: newer
                      entry("current.txt", "", "", ""),         // nothing says newer
                      entry("", "", "", "9.9.9.9"),             // no name: never
                      entry("Folder", "", "Directory", ""),     // not "directory": a file
                      entry("a.txt", "sub\\dir", "", ""),     // looked for below sub/dir
                      entry("b.txt", "other", "", "1.0.0.0")};  // same name again: next run
  f.frm->MakeDownloadList();
  EXPECT_EQ(f.view.listBox1, (std::vector<std::string>{"b.txt Ver 1.0.0.0", "Folder", "a.txt"}));
  EXPECT_TRUE(f.view.updateButtonVisible);
  f.frm->_versions = {entry("current.txt", "", "", "")};
  f.frm->MakeDownloadList();
  EXPECT_TRUE(f.view.listBox1.empty());
  EXPECT_FALSE(f.view.updateButtonVisible);
  EXPECT_TRUE(f.view.infos.empty()) << "the window shows its empty list, no box";
}

}  // namespace
}  // namespace qvu::testing
