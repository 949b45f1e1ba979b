// The connection settings as read from SERVER.MDB in the current directory, and the two
// service addresses built from them.
#include <gtest/gtest.h>

#include "tests/app/AppFixture.h"
#include "tests/app/CurrentDirectory.h"
#include "tests/e2e/ProgramRunner.h"
#include "tests/e2e/Settings.h"

namespace qvu::testing {
namespace {

// Loads the rows (SECTION, KEYNAME, KEYVAL tab-separated, one per line) for a category.
struct Loaded {
  bool ok = false;
  std::string error;
  std::unique_ptr<AppFixture> app;
};
Loaded Load(const std::string& rows, const std::string& category = "APP",
            const std::string& shopCode = "", const std::string& passwordArg = "") {
  Loaded l;
  l.app = std::make_unique<AppFixture>();
  CurrentDirectory cwd(l.app->root_);
  MakeSettingsDb(l.app->root_ + "/SERVER.MDB", rows, passwordArg);
  l.app->frm->_category = category;
  l.app->frm->_shopCode = shopCode;
  l.ok = l.app->frm->LoadConnectSettings();
  l.error = l.app->frm->_errorMessage;
  return l;
}

TEST(LoadConnectSettings, PicksExactRowsAndTheLaterOfTwo) {
  Loaded l = Load(
      "CONNECT\tDomain\tfirst.example\t\\N\n"
      "connect\tDomain\tlower-section.example\t\\N\n"
      "CONNECT\tdomain\tlower-key.example\t\\N\n"
      "CONNECT\tDomain\tsvc.example:8443\t2024/01/01 9:00:00\n"
      "CONNECT\tSalonID\tS01\t\\N\n"
      "CONNECT\tSalonPW\tpw\t\\N\n"
      "VERSION\tID\tvid\t\\N\n"
      "VERSION\tPW\t\\N\t\\N\n"
      "OTHER\tDomain\tignored\t\\N\n");
  ASSERT_TRUE(l.ok) << l.error;
  TMainFrm& f = *l.app->frm;
  EXPECT_EQ(f._domain, "svc.example:8443");
  EXPECT_EQ(l.app->xml._domain, "svc.example:8443") << "the data module gets it too";
  EXPECT_EQ(f._salonId, "S01");
  EXPECT_EQ(f._salonPw, "pw");
  EXPECT_EQ(f._verId, "vid");
  EXPECT_EQ(f._verPw, "") << "a Null value reads as the empty text";
  EXPECT_EQ(f._apiDir, "quelta") << "the default path segment";
  EXPECT_EQ(f._verMgrUrl,
            "https://svc.example:8443/quelta/api/office/gvermgr?SALONID=S01&CATEGORY=APP&STATUS=UP");
  EXPECT_EQ(f._verLogUrl, "https://svc.example:8443/quelta/api/office/sverlog");
}

TEST(LoadConnectSettings, BuildsTheShopQueryAndTheSegment) {
  Loaded l = Load("CONNECT\tDomain\th\t\\N\nCONNECT\ttest\tapi2\t\\N\n", "SHOP", "");
  ASSERT_TRUE(l.ok) << l.error;
  EXPECT_EQ(l.app->frm->_verMgrUrl,
            "https://h/api2/api/office/gvermgr?SALONID=&CATEGORY=SHOP&STATUS=UP&SHOP_CODE=");
  Loaded shop = Load("CONNECT\tDomain\th\t\\N\n", "SHOP", "007");
  EXPECT_EQ(shop.app->frm->_verMgrUrl,
            "https://h/quelta/api/office/gvermgr?SALONID=&CATEGORY=SHOP&STATUS=UP&SHOP_CODE=007");
  Loaded lower = Load("CONNECT\tDomain\th\t\\N\n", "shop", "007");
  EXPECT_EQ(lower.app->frm->_verMgrUrl,
            "https://h/quelta/api/office/gvermgr?SALONID=&CATEGORY=shop&STATUS=UP");
}

TEST(LoadConnectSettings, AnEmptyTableLeavesTheAddressesEmptyPieced) {
  Loaded l = Load("");
  ASSERT_TRUE(l.ok) << l.error;
  EXPECT_EQ(l.app->frm->_apiDir, "");
  EXPECT_EQ(l.app->frm->_verMgrUrl, "https:////api/office/gvermgr?SALONID=&CATEGORY=APP&STATUS=UP");
  EXPECT_EQ(l.app->frm->_verLogUrl, "https:////api/office/sverlog");
}

TEST(LoadConnectSettings, ProxyKeysIgnoreLetterCase) {
  Loaded l = Load("PROXY\tuse\thttp\t\\N\nPROXY\tUSE\tSOCKS5\t\\N\nPROXY\tPort\t1080\t\\N\n"
                  "PROXY\tAUTH\t\\N\t\\N\n");
  ASSERT_TRUE(l.ok) << l.error;
  TMainFrm& f = *l.app->frm;
  EXPECT_EQ(f.GetProxyValue("USE"), "SOCKS5");
  EXPECT_EQ(f.GetProxyValue("use"), "SOCKS5");
  EXPECT_EQ(f.GetProxyValue("PORT"), "1080");
  EXPECT_EQ(f.GetProxyValue("AUTH"), "");
  EXPECT_EQ(f.GetProxyValue("SERVER"), "");
  ASSERT_TRUE(f._proxyList);
  EXPECT_EQ(f._proxyList->size(), 3u) << "use and USE are one entry";
  AppFixture fresh;
  EXPECT_EQ(fresh.frm->GetProxyValue("USE"), "") << "before any proxy row";
}

TEST(LoadConnectSettings, OpensOnlyWithTheProgramsPassword) {
  const std::string rows = "CONNECT\tDomain\th\t\\N\n";
  EXPECT_TRUE(Load(rows, "APP", "", "").ok);
  EXPECT_TRUE(Load(rows, "APP", "", "--no-password").ok) << "no password opens with any";
  // Another password keeps the program out, with only the settings text for the user.
  AppFixture app;
  CurrentDirectory cwd(app.root_);
  RunOptions o;
  o.args = {app.root_ + "/SERVER.MDB", "--password", "secret"};
  o.input = rows;
  ASSERT_EQ(RunProgram(QVU_BIN_DIR "/make-settings-db", o).exitCode, 0);
  app.frm->_category = "APP";
  EXPECT_FALSE(app.frm->LoadConnectSettings());
  EXPECT_EQ(app.frm->_errorMessage, "接続情報の取得に失敗しました(SERVER.MDB)");
}

}  // namespace
}  // namespace qvu::testing
