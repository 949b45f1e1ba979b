#include <gtest/gtest.h>

#include "app/MainFrm.h"
#include "app/VersionText.h"

namespace qvu {
namespace {

TEST(SplitDelimitedText, FollowsTheStringListRules) {
  using V = std::vector<std::string>;
  struct Case { const char* text; V want; } cases[] = {
      {"1.2.3.4", {"1", "2", "3", "4"}},
      {"1.2.3.4 beta", {"1", "2", "3", "4", "beta"}},  // a blank separates too
      {"1.2.3.", {"1", "2", "3", ""}},                 // a trailing dot adds an empty part
      {"1..2", {"1", "", "2"}},
      {"  1 . 2  ", {"1", "2"}},
      {"\"1.2\".3", {"1.2", "3"}},                     // a quoted part is taken whole
      {"\"a\"\"b\".c", {"a\"b", "c"}},
      {"1\t2", {"1", "2"}},
      {"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitDelimitedText(c.text, '.'), c.want) << c.text;
}

TEST(IsConfinedName, RefusesNamesThatLeaveTheProgramFolderOrReachItsWorkFolders) {
  struct Case { const char* name; bool ok; } cases[] = {
      {"app.exe", true}, {"", true}, {"sub/dir", true}, {"sub\\dir", true}, {"a..b", true},
      {"..", false}, {"../app.exe", false}, {"sub/../../x", false}, {"sub\\..\\x", false},
      {"/etc/passwd", false}, {"\\x", false}, {"C:\\x", false}, {"dir/..", false},
      // The program folder itself, and the folders the run works in.
      {".", false}, {"./.", false}, {"images/.", false}, {"./a", false}, {"a/..", false},
      {"tmp", false}, {"tmp/x", false}, {"tmp\\x", false}, {"a/../tmp", false}, {"tmp/", false},
      {"NEWFILE", false}, {"NEWFILE/a.txt", false}, {"a//../NEWFILE", false},
      // Empty segments collapse; other names only look alike.
      {"a/", true}, {"a//b", true}, {"a\\", true}, {"x/tmp", true}, {"tmpfile", true},
      {"...", true}, {".hidden", true}, {"TMP", true}, {"newfile", true},
  };
  for (const auto& c : cases) EXPECT_EQ(IsConfinedName(c.name), c.ok) << c.name;
}

TEST(CandidateLine, ShowsVersionThenRevisionThenNameAlone) {
  STVersion_tb v;
  v.FILENAME = "app.exe";
  EXPECT_EQ(CandidateLine(v), "app.exe");
  v.REVISE_NO = "12";
  EXPECT_EQ(CandidateLine(v), "app.exe Ver 12");
  v.VER_NO = "1.2.0.0";
  EXPECT_EQ(CandidateLine(v), "app.exe Ver 1.2.0.0");
}

TEST(IsZipFile, LooksAtTheLastExtensionInAnyCase) {
  struct Case { const char* name; bool zip; } cases[] = {
      {"", false}, {"a.ZIP", true}, {"a.zip", true}, {"a.Zip", true}, {"a.zip.bak", false},
      {"zip", false}, {"dir.zip/file", false}, {"/x/NEWFILE/data.zip", true}};
  for (const auto& c : cases) EXPECT_EQ(TMainFrm::IsZipFile(c.name), c.zip) << c.name;
}

}  // namespace
}  // namespace qvu
