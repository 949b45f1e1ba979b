// The built program against a service that misbehaves: a broken proxy, a captive portal, a
// half-configured web server. Nothing that is not the planned program is installed, and no
// answer makes the program grow past 128 MiB.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/e2e/UpdateRunFixture.h"

namespace qvu::testing {
namespace {
using ::testing::HasSubstr;
using ::testing::Not;

const Entry kApp = {{"FILENAME", "app.exe"}, {"ZIPFILENAME", "app.exe"}, {"VER_NO", "1.2.0.5"}};

TEST_F(UpdateRun, ADownloadThatIsNoProgramNeverReplacesOne) {
  const std::string image = PeImage("1.2.0.5");
  const struct {
    const char* name;
    std::string served;
  } cases[] = {
      {"an error page served as 200", "<html><body>503 Service Unavailable</body></html>"},
      {"a cut-off image", image.substr(0, image.size() / 2)},
  };
  for (const auto& c : cases) {
    folder_ = std::make_unique<ProgramFolder>();
    WriteFile(P("app.exe"), PeImage("1.2.0.4"));
    Settings();
    ServeList({kApp});
    service_.SetFile("app.exe", c.served);
    const auto before = Snapshot(folder_->path());

    RunResult r = Run({"APP"});
    EXPECT_EQ(r.exitCode, 0) << c.name;
    EXPECT_EQ(r.err, "app.exeをバージョンアップする際にダウンロードしたファイルのバージョン情報が読めませんでした\n")
        << c.name;
    EXPECT_THAT(r.out, Not(HasSubstr("件更新しました"))) << c.name;
    EXPECT_EQ(Snapshot(folder_->path()), before) << c.name << ": app.exe byte for byte as before";
  }
}

TEST_F(UpdateRun, AFileThatNeverHadAVersionResourceIsStillInstalled) {
  // VER_NO is set, but neither side can show one: the plan went by the date.
  WriteFile(P("notes.txt"), "old notes");
  Settings();
  ServeList({{{"FILENAME", "notes.txt"}, {"ZIPFILENAME", "notes.txt"}, {"VER_NO", "1.0.0.2"},
              {"FILE_DT", "2099/01/01"}}});
  service_.SetFile("notes.txt", "new notes");
  RunResult r = Run({"APP"});
  EXPECT_EQ(r.err, "");
  EXPECT_THAT(r.out, HasSubstr("1件中 1件更新しました\n"));
  EXPECT_EQ(ReadFile(P("notes.txt")), "new notes");
}

// A version list with a head and a tail around count copies of a row.
Route ListOf(const std::string& row, long long count) {
  const std::string whole = VersionListXml({});
  const size_t end = whole.find("</ROWDATA>");
  Route route = Route::Ok(whole.substr(0, end), {{"Content-Type", "text/xml; charset=UTF-8"}});
  route.repeatUnit = row;
  route.repeatCount = count;
  route.tail = whole.substr(end);
  return route;
}

// Just under 8 MiB in Shift_JIS, of which nearly all is half-width katakana.
Route ShiftJisList() {
  Route route = ListOf(std::string(4096, '\xB1'), ((8 << 20) - 4096) / 4096);
  route.headers = {{"Content-Type", "text/xml; charset=Shift_JIS"}};
  return route;
}

// The largest list the limits let through: 20,000 entries with every column filled, just
// under 8 MiB. Each lands in the plan as a new file of its own name.
Route LargestAcceptedList() {
  const size_t kEntries = 20000, kBytes = 8 << 20;
  const char* const columns[] = {"SALONID", "SHOP_CODE", "CATEGORY", "ZIPFILENAME", "STATUS",
                                 "VER_NO", "REVISE_NO", "FILE_DT", "UP_DT", "USE_DT", "URL",
                                 "DIRECTORY", "NOTE", "UPTIME"};
  Route route = ListOf("", 0);
  size_t names = 0;
  for (const char* column : columns) names += std::string(column).size() + 4;  // ' C=""'
  const size_t frame = route.body.size() + route.tail.size() + kEntries * (names + 30);
  const size_t value = (kBytes - frame) / kEntries / 14;
  for (size_t i = 0; i < kEntries; ++i) {
    std::string row = "<ROW FILENAME=\"f" + std::to_string(100000 + i) + "\"";
    for (const char* column : columns) row += std::string(" ") + column + "=\"" + std::string(value, 'v') + "\"";
    route.body += row + "/>";
  }
  route.body += route.tail;  // sent whole: nothing repeats
  route.tail.clear();
  return route;
}

TEST_F(UpdateRun, NoAnswerMakesTheProgramGrowPast128MiB) {
  const char* const kListFailed = "バージョン情報の取得に失敗しました(ResponseCode = 200)\n";
  Route errorPage = Route::Status(500, "<html>");
  errorPage.repeatUnit = std::string(1024, 'e');
  errorPage.repeatCount = 2LL << 20;  // 2 GB
  const struct {
    const char* name;
    Route list;
    const char* err;
  } cases[] = {
      {"an endless list", ListOf("<ROW FILENAME=\"a.txt\" ZIPFILENAME=\"a.txt\"/>", -1), kListFailed},
      {"a list of 200 MB", ListOf(std::string(100, ' ') + "<ROW/>", (200LL << 20) / 106), kListFailed},
      {"a 2 GB error page", errorPage, "バージョン情報の取得に失敗しました(ResponseCode = 500)\n"},
      {"a million empty rows", ListOf("<ROW/>", 1300000), kListFailed},
      // Half-width katakana: each byte becomes three of UTF-8.
      {"a list that triples in decoding", ShiftJisList(), kListFailed},
      {"the largest list that passes", LargestAcceptedList(), ""},
  };
  Settings();
  for (const auto& c : cases) {
    service_.SetRoute("GET", kListPath, c.list);
    RunResult r = Run({"APP"}, "n\n");
    EXPECT_EQ(r.exitCode, 0) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
    EXPECT_GT(r.maxRssKiB, 0) << c.name;
    EXPECT_LT(r.maxRssKiB, 128 * 1024) << c.name;
    std::printf("%s: peak %.1f MiB\n", c.name, r.maxRssKiB / 1024.0);
    if (*c.err == '\0') {
      EXPECT_THAT(r.out, HasSubstr("f119999 Ver " + std::string(10, 'v'))) << "every entry planned";
    }
  }
}

// Every request of a run (the list, a HEAD and a GET for each file), the plan and the apply,
// under valgrind's memory checker; the settings reads run in children of their own, checked
// the same way.
TEST_F(UpdateRun, ValgrindSeesNoLeakOverAWholeRun) {
  WriteFile(P("app.exe"), PeImage("1.2.0.4"));
  Settings();
  ServeList({kApp, {{"FILENAME", "a.txt"}, {"ZIPFILENAME", "a.txt"}}});
  service_.SetFile("app.exe", PeImage("1.2.0.5"));
  service_.SetFile("a.txt", "A");
  RunOptions o;
  o.args = {"--leak-check=full", "--errors-for-leak-kinds=definite", "--show-leak-kinds=definite",
            "--error-exitcode=99", folder_->exe(), "APP"};
  o.cwd = folder_->workDir();
  o.input = "y\n";
  o.extraEnv = {"SSL_CERT_FILE=" + CertificateAuthority::Shared().RootFile()};
  o.timeoutSeconds = 240;
  RunResult r = RunProgram(RequireProgram("valgrind", "valgrind"), o);
  EXPECT_EQ(r.exitCode, 0) << "99: a definite leak\n" << r.err;
  EXPECT_THAT(r.out, ::testing::HasSubstr("2件中 2件更新しました\n"));
  EXPECT_EQ(ReadFile(P("app.exe")), PeImage("1.2.0.5"));
}

}  // namespace
}  // namespace qvu::testing
