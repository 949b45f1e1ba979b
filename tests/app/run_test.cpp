// The update run in-process: downloads through the main window's client, the files that are
// never replaced, and the failures the user is told about.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "net/HttpClient.h"
#include "support/Filesystem.h"
#include "tests/app/AppFixture.h"
#include "tests/e2e/ProgramRunner.h"
#include "tests/harness/Harness.h"

namespace qvu::testing {
namespace {
namespace fs = std::filesystem;

STDownloadFiles Candidate(const std::string& file, const std::string& zip,
                          const std::string& revise = "") {
  STDownloadFiles c;
  c.version.FILENAME = file;
  c.version.ZIPFILENAME = zip;
  c.version.REVISE_NO = revise;
  return c;
}

class Run : public ::testing::Test {
 protected:
  explicit Run(const Certificate& cert = CertificateAuthority::Shared().Issue("localhost"))
      : service_(cert) {
    setenv("SSL_CERT_FILE", CertificateAuthority::Shared().RootFile().c_str(), 1);
    f_.frm->_domain = "localhost:" + std::to_string(service_.Port());
    f_.xml._domain = f_.frm->_domain;  // as the settings set both
    f_.frm->_verId = "vid";
    f_.frm->_verPw = "vpw";
    f_.frm->_downloadPath = f_.exePath + "NEWFILE/";
    fs::create_directories(f_.frm->_downloadPath);
  }
  std::vector<std::string> Fetched() const {
    std::vector<std::string> out;
    for (const Request& r : service_.Requests()) out.push_back(r.method + " " + r.path);
    return out;
  }

  AppFixture f_;
  TestService service_;
};

TEST_F(Run, DownloadsSaveUnderTheLocalNameAndFollowTheList) {
  service_.SetFile("App.exe", "program");
  service_.SetFile("data.zip", "archive bytes");
  WriteFile(f_.frm->_downloadPath + "app.exe", "an older, longer leftover");
  f_.frm->_downloadFiles = {Candidate("app.exe", "App.exe"), Candidate("data", "data.zip")};
  f_.frm->_showProgress = true;

  ASSERT_TRUE(f_.frm->DownloadNewFiles()) << f_.frm->_errorMessage;
  EXPECT_EQ(ReadFile(f_.frm->_downloadPath + "app.exe"), "program") << "replaced, not appended";
  EXPECT_EQ(ReadFile(f_.frm->_downloadPath + "data.zip"), "archive bytes");
  EXPECT_EQ(f_.frm->_downloadFiles[0].localPath, f_.frm->_downloadPath + "app.exe");
  EXPECT_EQ(f_.frm->_downloadFiles[1].localPath, f_.frm->_downloadPath + "data.zip");
  EXPECT_EQ(Fetched(), (std::vector<std::string>{"HEAD /zeph/files/file/App.exe", "GET /zeph/files/file/App.exe",
                                                 "HEAD /zeph/files/file/data.zip", "GET /zeph/files/file/data.zip"}));
  EXPECT_EQ(f_.view.listBox1Selections, (std::vector<int>{0, 1}));
  EXPECT_EQ(f_.view.progressMax, 13) << "the HEAD's length of the last file";
  for (const auto& e : fs::directory_iterator(f_.frm->_downloadPath))
    EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << "no staging left";

  service_.ClearRequests();
  f_.frm->_downloadFiles.clear();
  EXPECT_TRUE(f_.frm->DownloadNewFiles()) << "nothing to fetch is a success";
  EXPECT_TRUE(service_.Requests().empty());
}

TEST_F(Run, AFailureKeepsWhatArrivedBeforeItAndRequestsNothingAfter) {
  service_.SetFile("a.txt", "A");
  service_.SetFile("c.txt", "C");  // b.txt is missing: 404
  f_.frm->_downloadFiles = {Candidate("a.txt", "a.txt"), Candidate("b.txt", "b.txt"), Candidate("c.txt", "c.txt")};
  EXPECT_FALSE(f_.frm->DownloadNewFiles());
  EXPECT_EQ(f_.frm->_errorMessage, "b.txtのバージョンアップに失敗しました(ResponseCode = 404)");
  EXPECT_EQ(ReadFile(f_.frm->_downloadPath + "a.txt"), "A");
  EXPECT_EQ(f_.frm->_downloadFiles[0].localPath, f_.frm->_downloadPath + "a.txt");
  EXPECT_EQ(f_.frm->_downloadFiles[1].localPath, "");
  EXPECT_EQ(std::distance(fs::directory_iterator(f_.frm->_downloadPath), fs::directory_iterator()), 1)
      << "nothing staged is left";
  EXPECT_EQ(Fetched(), (std::vector<std::string>{"HEAD /zeph/files/file/a.txt", "GET /zeph/files/file/a.txt",
                                                 "HEAD /zeph/files/file/b.txt"}));
}

TEST_F(Run, AFailedTransferLeavesNoFileBehind) {
  // The body is promised longer than it is: the transfer breaks off part-way.
  Route cut = Route::Ok(std::string(100000, 'x'), {{"Content-Length", "200000"}});
  service_.SetRoute("GET", "/zeph/files/file/big.bin", cut);
  service_.SetRoute("HEAD", "/zeph/files/file/big.bin", Route::Ok(""));
  f_.frm->_downloadFiles = {Candidate("big.bin", "big.bin")};
  f_.frm->IdHTTP1->readTimeoutMs = 2000;  // the rest never comes
  EXPECT_FALSE(f_.frm->DownloadNewFiles());
  EXPECT_EQ(f_.frm->_errorMessage,
            "big.binをバージョンアップする際にタイムアウトが発生しました(Error = Read timed out.)");
  EXPECT_TRUE(fs::is_empty(f_.frm->_downloadPath)) << "neither the file nor a partial one";
}

TEST_F(Run, ARedirectLeftStandingFailsTheDownloadWithItsStatus) {
  const std::string self = "https://" + f_.frm->_domain + "/zeph/files/file/loop.bin";
  const struct {
    const char* method;
    Route route;
    const char* text;
  } cases[] = {
      {"GET", Route::Status(302, "<html>moved</html>"), "f.binのバージョンアップに失敗しました(ResponseCode = 302)"},
      {"HEAD", Route::Redirect(self, 301), "f.binのバージョンアップに失敗しました(ResponseCode = 301)"},
  };
  for (const auto& c : cases) {
    service_.SetRoute("HEAD", "/zeph/files/file/loop.bin", Route::Ok(""));
    service_.SetRoute("GET", "/zeph/files/file/loop.bin", Route::Ok("file"));
    service_.SetRoute(c.method, "/zeph/files/file/loop.bin", c.route);
    f_.frm->_downloadFiles = {Candidate("f.bin", "loop.bin")};
    EXPECT_FALSE(f_.frm->DownloadNewFiles()) << c.method;
    EXPECT_EQ(f_.frm->_errorMessage, c.text);
    EXPECT_TRUE(fs::is_empty(f_.frm->_downloadPath)) << "the page is not the file";
  }
}

class ExpiredRun : public Run {
 protected:
  static Certificate Expired() {
    CertSpec spec;
    spec.cn = "localhost";
    spec.notBefore = TimeBound::FromNow(-7200);
    spec.notAfter = TimeBound::FromNow(-3600);
    return CertificateAuthority::Shared().Issue(spec);
  }
  ExpiredRun() : Run(Expired()) {}
};

TEST_F(ExpiredRun, ARefusedCertificateShowsTheRefusalText) {
  service_.SetFile("a.txt", "A");
  f_.frm->_downloadFiles = {Candidate("a.txt", "a.txt"), Candidate("b.txt", "b.txt")};
  EXPECT_FALSE(f_.frm->DownloadNewFiles());
  EXPECT_EQ(f_.frm->_errorMessage, "サーバ証明書が有効期間内でないため、通信を中断します。");
  EXPECT_TRUE(service_.Requests().empty()) << "nothing went over the refused connection";
}

TEST_F(Run, NeverTouchedFilesAreStampedButStayStaged) {
  service_.SetFile("self", "new updater");
  service_.SetFile("ssl", "new tls library");
  WriteFile(f_.exePath + "QueltaVersionUp", "running updater");
  WriteFile(f_.exePath + "SSLEAY32.DLL", "loaded tls library");
  f_.frm->_downloadFiles = {Candidate("queltaversionup", "self", "5"), Candidate("ssleay32.dll", "ssl")};
  fs::create_directories(f_.frm->_tmpPath);
  ASSERT_TRUE(f_.frm->DownloadNewFiles()) << f_.frm->_errorMessage;
  ASSERT_TRUE(f_.frm->UpdateFiles()) << f_.frm->_errorMessage;
  EXPECT_EQ(ReadFile(f_.exePath + "QueltaVersionUp"), "running updater");
  EXPECT_EQ(ReadFile(f_.exePath + "SSLEAY32.DLL"), "loaded tls library");
  EXPECT_EQ(ReadFile(f_.frm->_downloadPath + "queltaversionup"), "new updater");
  std::string rev, error;
  EXPECT_TRUE(GetRevisionNo(f_.frm->_downloadPath + "queltaversionup", 9, rev, error)) << error;
  EXPECT_EQ(rev, "5");
  EXPECT_TRUE(f_.frm->_downloadFiles[0].updated && f_.frm->_downloadFiles[1].updated);
  EXPECT_EQ(f_.view.listBox2, (std::vector<std::string>{"queltaversionup Ver 5", "ssleay32.dll"}));
}

TEST_F(Run, AnArchiveWithoutTheNamedFileFailsAndKeepsTheOldOne) {
  // Moving nothing into place must not count as done: the old file would be lost with the
  // backups once the run succeeded.
  WriteFile(f_.exePath + "tool.exe", "old tool");
  std::string zipDir = f_.root_ + "/zipsrc";
  WriteFile(zipDir + "/Tool.exe", "new tool, other name");
  ASSERT_EQ(std::system(("cd '" + zipDir + "' && zip -q ../tool.zip Tool.exe").c_str()), 0);
  service_.SetFile("tool.zip", ReadFile(f_.root_ + "/tool.zip"));
  fs::copy_file(QVU_BIN_DIR "/7-ZIP32.DLL", f_.exePath + "7-ZIP32.DLL");
  f_.frm->_downloadFiles = {Candidate("tool.exe", "tool.zip")};
  f_.frm->_tmpPath = f_.exePath + "tmp/";
  fs::create_directories(f_.frm->_tmpPath);
  ASSERT_TRUE(f_.frm->DownloadNewFiles()) << f_.frm->_errorMessage;
  EXPECT_FALSE(f_.frm->UpdateFiles());
  EXPECT_EQ(f_.frm->_errorMessage, f_.frm->_downloadPath + "tool.exeのファイルコピーに失敗しました");
  f_.frm->RestoreFiles();
  EXPECT_EQ(ReadFile(f_.exePath + "tool.exe"), "old tool");
  EXPECT_FALSE(fs::exists(f_.frm->_tmpPath));
}

TEST_F(Run, AFolderThatCannotBeMadeStopsTheRunBeforeAnyTransfer) {
  WriteFile(f_.root_ + "/afile", "x");
  f_.frm->_exePath = f_.root_ + "/afile/";  // below a file: no folder can be made there
  f_.frm->_tmpPath = f_.frm->_exePath + "tmp/";
  f_.frm->_downloadFiles = {Candidate("a.txt", "a.txt")};
  f_.frm->SpeedButton4Click();
  EXPECT_EQ(f_.view.errors, (std::vector<std::string>{f_.root_ + "/afile/NEWFILE/の作成に失敗しました"}));
  EXPECT_TRUE(f_.view.closeButtonVisible);
  EXPECT_FALSE(f_.view.updateButtonVisible);
  EXPECT_TRUE(service_.Requests().empty());
}

TEST_F(Run, TheVersionLogIsOnlyForACompleteShopRun) {
  service_.SetRoute("POST", "/quelta/api/office/sverlog", Route::Ok("OK"));
  f_.frm->_verLogUrl = "https://" + f_.frm->_domain + "/quelta/api/office/sverlog";
  f_.frm->_downloadFiles = {Candidate("a.txt", "a.txt")};
  f_.frm->_category = "APP";
  EXPECT_TRUE(f_.frm->SendUpdateResult()) << "nothing to send outside shop mode";
  f_.frm->_category = "SHOP";
  EXPECT_FALSE(f_.frm->SendUpdateResult()) << "no applied candidate";
  EXPECT_TRUE(service_.Requests().empty());
  f_.frm->_downloadFiles[0].updated = true;
  EXPECT_TRUE(f_.frm->SendUpdateResult());
  service_.SetRoute("POST", "/quelta/api/office/sverlog", Route::Status(500, "<html>down</html>"));
  EXPECT_FALSE(f_.frm->SendUpdateResult());
  EXPECT_EQ(f_.xml._errorMessage, "Httpプロトコルエラー\n<html>down</html>\n(ResponseCode = 500)");
}

}  // namespace
}  // namespace qvu::testing
