// The data module against the local test service: the version list request and the
// version log post, with every row of the failure table produced for real.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "net/XmlMod.h"
#include "tests/net/NetTestSupport.h"

namespace qvu {
namespace {

using namespace qvu::nettest;

const char kListPath[] = "/quelta/api/office/gvermgr";
const char kLogPath[] = "/quelta/api/office/sverlog";
const char kQuery[] = "?SALONID=S01&CATEGORY=SHOP&STATUS=UP&SHOP_CODE=";

std::string ListPacket(const std::string& rows) {
  return "<?xml version=\"1.0\" standalone=\"yes\"?><DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
         "<FIELD attrname=\"FILENAME\" fieldtype=\"string\" width=\"100\"/>"
         "<FIELD attrname=\"VER_NO\" fieldtype=\"string\" width=\"100\"/>"
         "</FIELDS></METADATA><ROWDATA>" + rows + "</ROWDATA></DATAPACKET>";
}

class XmlModTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { TrustTestAuthority(); }
  void SetUp() override {
    xml._domain = "localhost";
    xml._salonId = "S01";
    xml._salonPw = "secret";
  }
  bool MakeLog() {
    STVersion_tb v;
    v.SALONID = "S01";
    v.FILENAME = "app.exe";
    v.VER_NO = "1.2.0.5";
    return xml.MakeVersionLogXml({v});
  }

  TestService service{LocalhostCert()};
  TXmlMod xml;
};

TEST_F(XmlModTest, VersionListGoesOutAsSetAndIsRead) {
  service.SetRoute("GET", kListPath,
                   Route::Ok(ListPacket("<ROW FILENAME=\"app.exe\" VER_NO=\"1.2.0.5\"/>"
                                        "<ROW FILENAME=\"データ.zip\"/>"),
                             {{"Content-Type", "text/xml"}}));
  xml._url = service.BaseUrl() + kListPath + kQuery;
  ASSERT_TRUE(xml.GetVersionInfo()) << xml._errorMessage;
  ASSERT_EQ(xml._versions.size(), 2u);
  EXPECT_EQ(xml._versions[0].FILENAME, "app.exe");
  EXPECT_EQ(xml._versions[0].VER_NO, "1.2.0.5");
  EXPECT_EQ(xml._versions[1].FILENAME, "データ.zip");
  EXPECT_EQ(xml._versions[1].VER_NO, "");

  const auto requests = service.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const Request& r = requests[0];
  EXPECT_EQ(r.method, "GET");
  EXPECT_EQ(r.path, kListPath);
  EXPECT_EQ("?" + r.query, kQuery);
  EXPECT_EQ(r.Header("User-Agent"), "Quelta Version Manager 1.0");
  EXPECT_EQ(r.Header("Accept"), "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8");
  EXPECT_EQ(r.Header("Authorization"), BasicAuthorization("S01", "secret"));
  EXPECT_FALSE(r.HasHeader("Accept-Encoding"));
}

TEST_F(XmlModTest, VersionListIsDecodedByTheNamedCharsetOrTheDeclaration) {
  const std::string sjisRow = "<ROW FILENAME=\"\x8dX\x90V.exe\"/>";  // 更新.exe
  std::string declared = ListPacket(sjisRow);
  declared.replace(0, declared.find("?>"), "<?xml version=\"1.0\" encoding=\"Shift_JIS\"");
  const struct {
    Route route;
  } cases[] = {
      {Route::Ok(ListPacket(sjisRow), {{"Content-Type", "text/xml; charset=Shift_JIS"}})},
      {Route::Ok(declared, {{"Content-Type", "text/xml"}})},
  };
  for (const auto& c : cases) {
    service.SetRoute("GET", kListPath, c.route);
    xml._url = service.BaseUrl() + kListPath + kQuery;
    ASSERT_TRUE(xml.GetVersionInfo()) << xml._errorMessage;
    ASSERT_EQ(xml._versions.size(), 1u);
    EXPECT_EQ(xml._versions[0].FILENAME, "更新.exe");
  }
}

TEST_F(XmlModTest, WellFormedXmlThatIsNoPacketIsADatasetFailure) {
  service.SetRoute("GET", kListPath, Route::Ok("<?xml version=\"1.0\"?><result>none</result>"));
  xml._url = service.BaseUrl() + kListPath + kQuery;
  EXPECT_FALSE(xml.GetVersionInfo());
  EXPECT_TRUE(TextMatches(xml._errorMessage, "ClientDataSet XmlDataの読込に失敗しました(Error = {M})"));
  EXPECT_TRUE(xml._versions.empty());
}

TEST_F(XmlModTest, VersionLogIsPostedAsOneMultipartField) {
  service.SetRoute("POST", kLogPath, Route::Ok("OK"));
  ASSERT_TRUE(MakeLog());
  xml._url = service.BaseUrl() + kLogPath;
  ASSERT_TRUE(xml.PostVersionLog()) << xml._errorMessage;

  const auto requests = service.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const Request& r = requests[0];
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.Header("User-Agent"), "Quelta Version Manager 1.0");
  EXPECT_EQ(r.Header("Authorization"), BasicAuthorization("S01", "secret"));
  const std::string type = r.Header("Content-Type");
  const std::string prefix = "multipart/form-data; boundary=";
  ASSERT_EQ(type.compare(0, prefix.size(), prefix), 0) << type;
  const std::string boundary = "--" + type.substr(prefix.size());
  EXPECT_EQ(r.body, boundary + "\r\n"
                    "Content-Disposition: form-data; name=\"data\"\r\n"
                    "Content-Type: text/plain; charset=\"utf-8\"\r\n"
                    "Content-Transfer-Encoding: 8bit\r\n\r\n" +
                        xml._versionLogXml + "\r\n" + boundary + "--\r\n");
}

TEST_F(XmlModTest, OnlyOkInAnyCaseIsSuccess) {
  const struct {
    const char* answer;
    bool ok;
  } cases[] = {{"OK", true}, {"ok", true}, {"Ok", true}, {"OK\r\n", false}, {"", false},
               {"NG: unknown salon", false}};
  ASSERT_TRUE(MakeLog());
  xml._url = service.BaseUrl() + kLogPath;
  for (const auto& c : cases) {
    service.SetRoute("POST", kLogPath, Route::Ok(c.answer));
    xml._errorMessage = "untouched";
    EXPECT_EQ(xml.PostVersionLog(), c.ok) << c.answer;
    EXPECT_EQ(xml._errorMessage, c.ok ? "untouched" : std::string("PostVersionLog Error = ") + c.answer);
  }
}

TEST(MakeVersionLogXml, EmptyListBuildsNothing) {
  TXmlMod xml;
  xml._versionLogXml = "left over";
  EXPECT_FALSE(xml.MakeVersionLogXml({}));
  EXPECT_EQ(xml._versionLogXml, "");
}

// One failure, arranged for real; the request goes to base + the API path.
struct Arranged {
  std::string base;
  std::unique_ptr<SilentServer> silent;
  std::unique_ptr<ScopedCertFile> certFile;
  int listener = -1;
  ~Arranged() {
    if (listener >= 0) close(listener);
  }
};

// A listener whose queue is full: connection attempts hang before TCP stands.
int FullListener(int& port, std::vector<int>& clients) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(fd, 0);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
  for (int i = 0; i < 2; ++i) {
    int c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
    clients.push_back(c);
  }
  usleep(100000);
  return fd;
}

struct FailureCase {
  const char* name;
  std::function<void(Arranged&, TestService&, TXmlMod&)> arrange;
  const char* listText;
  const char* logText;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

const std::string kHtml = "<html><body><h1>Internal error</h1><br></body></html>";

// An error page of 2 GB: only its beginning can reach a text.
Route HugeErrorPage() {
  Route route = Route::Status(500, "<html><body>");
  route.repeatUnit = "<p>error</p>";
  route.repeatCount = (2LL << 30) / 12;
  return route;
}
const std::string kHugePageText = [] {
  std::string page = "<html><body>";
  while (page.size() < kErrorBodyKeep) page += "<p>error</p>";
  return "Httpプロトコルエラー\n" + page.substr(0, kErrorBodyKeep) + "\n(ResponseCode = 500)";
}();

// A version list that never ends (count < 0) or announces 200 MB.
Route EndlessList(long long count) {
  Route route = Route::Ok(ListPacket("").substr(0, ListPacket("").find("</ROWDATA>")));
  route.repeatUnit = "<ROW FILENAME=\"a\"/>";
  route.repeatCount = count;
  return route;
}

// Sets the route for both requests.
void Both(TestService& s, const Route& route) {
  s.SetRoute("GET", kListPath, route);
  s.SetRoute("POST", kLogPath, route);
}

const FailureCase kFailures[] = {
    {"refusedPort",
     [](Arranged& a, TestService&, TXmlMod&) { a.base = "https://127.0.0.1:" + std::to_string(RefusedPort()); },
     "バージョン情報の取得の際にネットワークエラーが発生しました(Error = {M})",
     "ネットワークエラーが発生しました(ResponseCode = -1)"},
    {"unresolvableName", [](Arranged& a, TestService&, TXmlMod&) { a.base = "https://" + UnresolvableHost(); },
     "バージョン情報の取得の際にネットワークエラーが発生しました(Error = {M})",
     "ネットワークエラーが発生しました(ResponseCode = -1)"},
    {"malformedAddress", [](Arranged& a, TestService&, TXmlMod&) { a.base = "https://"; },
     "バージョン情報の取得の際にホスト名に異常が検出されました(Error = {M})",
     "ホスト名に異常が検出されました(ResponseCode = -1)"},
    {"unreadableCaBundle",
     [](Arranged& a, TestService& s, TXmlMod&) {
       a.base = s.BaseUrl();
       static const std::string garbage = [] {
         std::string path = CertificateAuthority::Shared().Folder() + "/garbage.pem";
         WriteFileBytes(path, "this is no certificate\n");
         return path;
       }();
       a.certFile = std::make_unique<ScopedCertFile>(garbage);
     },
     "バージョン情報の取得の際にSSLライブラリが見つかりませんでした(Error = {M})",
     "SSLライブラリが見つかりません(ResponseCode = -1)"},
    {"certificateForAnotherHost", [](Arranged& a, TestService& s, TXmlMod& x) {
       a.base = s.BaseUrl();
       x._domain = "example.com";
     },
     "バージョン情報の取得の際にサーバ接続でエラーが発生しました(Error = {M})",
     "サーバ接続でエラーが発生しました(ResponseCode = -1)"},
    {"silentAfterHandshake",
     [](Arranged& a, TestService&, TXmlMod& x) {
       a.silent = std::make_unique<SilentServer>(LocalhostCert());
       a.base = "https://127.0.0.1:" + std::to_string(a.silent->Port());
       x.IdHTTP1.readTimeoutMs = 1000;
     },
     "バージョン情報の取得の際にタイムアウトが発生しました(Error = Read timed out.)",
     "タイムアウトが発生しました(ResponseCode = -1)"},
    {"silentFromTheStart",
     [](Arranged& a, TestService&, TXmlMod& x) {
       a.silent = std::make_unique<SilentServer>();
       a.base = "https://127.0.0.1:" + std::to_string(a.silent->Port());
       x.IdHTTP1.readTimeoutMs = 1000;
     },
     "バージョン情報の取得の際にタイムアウトが発生しました(Error = Read timed out.)",
     "タイムアウトが発生しました(ResponseCode = -1)"},
    {"connectTimeout",
     [](Arranged& a, TestService&, TXmlMod& x) {
       static std::vector<int> clients;
       int port = 0;
       a.listener = FullListener(port, clients);
       a.base = "https://127.0.0.1:" + std::to_string(port);
       x.IdHTTP1.connectTimeoutMs = 1000;
     },
     "バージョン情報の取得に失敗しました(ResponseCode = -1)", "例外エラー(ResponseCode = -1)"},
    {"status401",
     [](Arranged& a, TestService& s, TXmlMod&) {
       a.base = s.BaseUrl();
       s.SetRoute("GET", kListPath, Route::Status(401, "denied"));
       s.SetRoute("POST", kLogPath, Route::Status(401, "denied"));
     },
     "バージョン情報の取得に失敗しました(ResponseCode = 401)", "Httpプロトコルエラー\ndenied\n(ResponseCode = 401)"},
    {"status404", [](Arranged& a, TestService& s, TXmlMod&) { a.base = s.BaseUrl() + "/nothing"; },
     "バージョン情報の取得に失敗しました(ResponseCode = 404)", nullptr},
    {"status500",
     [](Arranged& a, TestService& s, TXmlMod&) {
       a.base = s.BaseUrl();
       s.SetRoute("GET", kListPath, Route::Status(500, kHtml));
       s.SetRoute("POST", kLogPath, Route::Status(500, kHtml));
     },
     "バージョン情報の取得に失敗しました(ResponseCode = 500)",
     "Httpプロトコルエラー\n<html><body><h1>Internal error</h1><br></body></html>\n(ResponseCode = 500)"},
    {"tricklingServer",
     [](Arranged& a, TestService& s, TXmlMod& x) {
       a.base = s.BaseUrl();
       Route trickle = Route::Ok(ListPacket(""));
       trickle.trickleMs = 500;  // never 60 s of silence, but 2 bytes a second
       Both(s, trickle);
       x.IdHTTP1.rateWindowSeconds = 2;
     },
     "バージョン情報の取得の際にタイムアウトが発生しました(Error = Read timed out.)",
     "タイムアウトが発生しました(ResponseCode = 200)"},
    {"redirectWithoutLocation",
     [](Arranged& a, TestService& s, TXmlMod&) {
       a.base = s.BaseUrl();
       // Bodies that would pass for the answers: a list, and the log's "OK".
       s.SetRoute("GET", kListPath, Route::Status(302, ListPacket("<ROW FILENAME=\"a\"/>")));
       s.SetRoute("POST", kLogPath, Route::Status(302, "OK"));
     },
     "バージョン情報の取得に失敗しました(ResponseCode = 302)", "Httpプロトコルエラー\nOK\n(ResponseCode = 302)"},
    {"redirectsPastTheLimit",
     [](Arranged& a, TestService& s, TXmlMod&) {
       a.base = s.BaseUrl();
       // A POST answered with 301 is followed as a GET: both lead round in a circle.
       Both(s, Route::Redirect(s.BaseUrl() + kListPath, 301));
     },
     "バージョン情報の取得に失敗しました(ResponseCode = 301)", "Httpプロトコルエラー\n\n(ResponseCode = 301)"},
    {"endlessBody",
     [](Arranged& a, TestService& s, TXmlMod&) {
       a.base = s.BaseUrl();
       Both(s, EndlessList(-1));
     },
     "バージョン情報の取得に失敗しました(ResponseCode = 200)", "例外エラー(ResponseCode = 200)"},
    {"announced200MB",
     [](Arranged& a, TestService& s, TXmlMod&) {
       a.base = s.BaseUrl();
       Both(s, EndlessList(200 << 20 >> 4));
     },
     "バージョン情報の取得に失敗しました(ResponseCode = 200)", "例外エラー(ResponseCode = 200)"},
    {"hugeErrorPage",
     [](Arranged& a, TestService& s, TXmlMod&) {
       a.base = s.BaseUrl();
       Both(s, HugeErrorPage());
     },
     "バージョン情報の取得に失敗しました(ResponseCode = 500)", kHugePageText.c_str()},
    {"htmlInsteadOfXml",
     [](Arranged& a, TestService& s, TXmlMod&) {
       a.base = s.BaseUrl();
       s.SetRoute("GET", kListPath, Route::Ok(kHtml, {{"Content-Type", "text/html"}}));
     },
     "バージョン情報の取得に失敗しました(ResponseCode = 200)", nullptr},
};

class Failures : public XmlModTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(Failures, VersionListAndLogGiveTheirRowOfTheTable) {
  const FailureCase& c = GetParam();
  {
    Arranged a;
    c.arrange(a, service, xml);
    xml._url = a.base + kListPath + kQuery;
    EXPECT_FALSE(xml.GetVersionInfo());
    EXPECT_TRUE(TextMatches(xml._errorMessage, c.listText));
    EXPECT_TRUE(xml._versions.empty());
  }
  if (c.logText != nullptr) {
    Arranged a;
    c.arrange(a, service, xml);
    ASSERT_TRUE(MakeLog());
    xml._url = a.base + kLogPath;
    EXPECT_FALSE(xml.PostVersionLog());
    EXPECT_TRUE(TextMatches(xml._errorMessage, c.logText));
  }
}

INSTANTIATE_TEST_SUITE_P(Table, Failures, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvu
