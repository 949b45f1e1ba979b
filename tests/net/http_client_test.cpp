// The HTTP client against the local service and proxies: what the service and the
// proxies see of each client, and what the client makes of the answers.
#include <gtest/gtest.h>

#include <optional>

#include "net/HttpClient.h"
#include "tests/net/NetTestSupport.h"

namespace qvu {
namespace {

using namespace qvu::nettest;

class HttpClientTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { TrustTestAuthority(); }

  std::string domain = "localhost", certText, befCn;
  HttpClient download{HttpClient::Role::Download, {&domain, &certText, &befCn}};
  HttpClient api{HttpClient::Role::Api, {&domain, &certText, &befCn}};
  TestService service{LocalhostCert()};
};

TEST_F(HttpClientTest, DownloadClientHeadersAndEncodedFileName) {
  service.SetFile("a b 更新.zip", "zip bytes");
  SetupHttpClient(download, "ver", "pw", {});
  const HttpResult r = download.Get(service.BaseUrl() + "/zeph/files/file/a b 更新.zip");
  ASSERT_TRUE(r.ok()) << r.message;
  EXPECT_EQ(r.body, "zip bytes");
  const auto requests = service.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const Request& q = requests[0];
  EXPECT_EQ(q.rawPath, "/zeph/files/file/a%20b%20%E6%9B%B4%E6%96%B0.zip");
  EXPECT_EQ(q.Header("User-Agent"), "Mozilla/3.0 (compatible; Indy Library)");
  EXPECT_EQ(q.Header("Accept"), "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8");
  EXPECT_EQ(q.Header("Authorization"), BasicAuthorization("ver", "pw"));
  EXPECT_EQ(q.Header("Accept-Encoding"), "gzip, deflate");
}

TEST_F(HttpClientTest, EmptyCredentialsAreStillSent) {
  SetupHttpClient(api, "", "", {});
  api.Get(service.BaseUrl() + "/any");
  ASSERT_EQ(service.Requests().size(), 1u);
  EXPECT_EQ(service.Requests()[0].Header("Authorization"), BasicAuthorization("", ""));
}

TEST_F(HttpClientTest, GzipIsDecodedOnTheDownloadClient) {
  Route zipped = Route::Ok(std::string(5000, 'z'));
  zipped.gzip = true;
  service.SetRoute("GET", "/zipped", zipped);
  SetupHttpClient(download, "", "", {});
  const HttpResult r = download.Get(service.BaseUrl() + "/zipped");
  ASSERT_TRUE(r.ok()) << r.message;
  EXPECT_EQ(r.body, std::string(5000, 'z'));
}

TEST_F(HttpClientTest, HeadGivesTheLengthAndStreamingReportsProgress) {
  const std::string bytes(300000, 'b');
  service.SetFile("big.bin", bytes);
  const std::string url = service.BaseUrl() + "/zeph/files/file/big.bin";
  SetupHttpClient(download, "", "", {});
  const HttpResult head = download.Head(url);
  ASSERT_TRUE(head.ok()) << head.message;
  EXPECT_EQ(head.contentLength, 300000);
  EXPECT_TRUE(head.body.empty());

  std::string received;
  int64_t lastWork = 0;
  download.onWork = [&](HttpWork mode, int64_t count) {
    EXPECT_EQ(mode, HttpWork::Read);
    EXPECT_GE(count, lastWork);
    lastWork = count;
  };
  SetupHttpClient(download, "", "", {});
  const HttpResult get = download.Get(url, [&](const char* d, size_t n) {
    received.append(d, n);
    return true;
  });
  ASSERT_TRUE(get.ok()) << get.message;
  EXPECT_EQ(received, bytes);
  EXPECT_TRUE(get.body.empty());
  EXPECT_EQ(lastWork, 300000);
}

TEST_F(HttpClientTest, SinkRefusalAbortsAndErrorPagesNeverReachTheSink) {
  service.SetFile("f.bin", "data");
  SetupHttpClient(download, "", "", {});
  const HttpResult refused =
      download.Get(service.BaseUrl() + "/zeph/files/file/f.bin", [](const char*, size_t) { return false; });
  EXPECT_EQ(refused.failure, HttpFailure::Other);

  bool sinkCalled = false;
  SetupHttpClient(download, "", "", {});
  const HttpResult missing = download.Get(service.BaseUrl() + "/zeph/files/file/none.bin",
                                          [&](const char*, size_t) { return sinkCalled = true; });
  EXPECT_EQ(missing.failure, HttpFailure::HttpStatus);
  EXPECT_EQ(missing.status, 404);
  EXPECT_FALSE(sinkCalled);
}

TEST_F(HttpClientTest, RedirectsAreFollowedAndCredentialsStayWithTheirHost) {
  TestService other{LocalhostCert()};
  other.SetRoute("GET", "/there", Route::Ok("arrived"));
  service.SetRoute("GET", "/away", Route::Redirect(other.BaseUrl("localhost") + "/there"));
  service.SetRoute("GET", "/here", Route::Redirect(service.BaseUrl() + "/final"));
  service.SetRoute("GET", "/final", Route::Ok("stayed"));
  SetupHttpClient(api, "S01", "pw", {});
  const HttpResult away = api.Get(service.BaseUrl() + "/away");
  EXPECT_EQ(away.body, "arrived");
  ASSERT_EQ(other.Requests().size(), 1u);
  EXPECT_FALSE(other.Requests()[0].HasHeader("Authorization"));

  SetupHttpClient(api, "S01", "pw", {});
  const HttpResult here = api.Get(service.BaseUrl() + "/here");
  EXPECT_EQ(here.body, "stayed");
  EXPECT_EQ(service.Requests().back().Header("Authorization"), BasicAuthorization("S01", "pw"));
}

TEST_F(HttpClientTest, CookiesLiveAcrossSetUps) {
  service.SetRoute("GET", "/login", Route::Ok("in", {{"Set-Cookie", "session=abc; Path=/"}}));
  SetupHttpClient(api, "", "", {});
  api.Get(service.BaseUrl() + "/login");
  SetupHttpClient(api, "", "", {});
  api.Get(service.BaseUrl() + "/next");
  EXPECT_EQ(service.Requests().back().Header("Cookie"), "session=abc");
}

TEST_F(HttpClientTest, UploadProgressIsReported) {
  service.SetRoute("POST", "/log", Route::Ok("OK"));
  int64_t written = 0;
  api.onWork = [&](HttpWork mode, int64_t count) {
    if (mode == HttpWork::Write) written = count;
  };
  SetupHttpClient(api, "", "", {});
  const HttpResult r = api.PostForm(service.BaseUrl() + "/log", "data", std::string(10000, 'x'));
  ASSERT_TRUE(r.ok()) << r.message;
  EXPECT_GT(written, 10000);
}

// Each route of the proxy table as the recording proxy sees it.
struct ProxyCase {
  const char* name;
  RecordingProxy::Kind kind;
  const char* use;
  const char* auth;
  const char* host;  // the address's host; the proxy relays to 127.0.0.1 anyway
  std::optional<Credentials> required;
  // Expected handshake; an empty kind means the request went direct.
  const char* seenKind;
  const char* seenHost;
  const char* seenUser;
  const char* seenPassword;
  bool seenProxyAuthorization;
  bool portAbove16Bits = false;
};

void PrintTo(const ProxyCase& c, std::ostream* os) { *os << c.name; }

const char kName[] = "update.qvu.test";

const ProxyCase kProxyCases[] = {
    {"http", RecordingProxy::Kind::HttpConnect, "HTTP", "", kName, {}, "http", kName, "", "", false},
    {"httpAuthAnyCase", RecordingProxy::Kind::HttpConnect, "hTTp", "y", kName, Credentials{"pu", "pp"}, "http",
     kName, "pu", "pp", true},
    {"httpAuthOnlyY", RecordingProxy::Kind::HttpConnect, "HTTP", "Yes", kName, {}, "http", kName, "", "", false},
    {"httpWithBlankIsDirect", RecordingProxy::Kind::HttpConnect, " HTTP", "", "127.0.0.1", {}, "", "", "", "", false},
    {"socks4", RecordingProxy::Kind::Socks4, "SOCKS4", "", "127.0.0.1", {}, "socks4", "127.0.0.1", "", "", false},
    {"socks4a", RecordingProxy::Kind::Socks4a, "socks4a", "", kName, {}, "socks4a", kName, "", "", false},
    {"socks5", RecordingProxy::Kind::Socks5, "SOCKS5", "", kName, {}, "socks5", kName, "", "", false},
    {"socks5Auth", RecordingProxy::Kind::Socks5, "Socks5", "Y", kName, Credentials{"su", "sp"}, "socks5", kName,
     "su", "sp", false},
    {"socks5AuthEmptyUser", RecordingProxy::Kind::Socks5, "SOCKS5", "Y", kName, Credentials{"", ""}, "socks5",
     kName, "", "", false},
    {"socks5PortLow16Bits", RecordingProxy::Kind::Socks5, "SOCKS5", "", kName, {}, "socks5", kName, "", "", false,
     true},
};

class ProxyRoutes : public HttpClientTest, public ::testing::WithParamInterface<ProxyCase> {};

TEST_P(ProxyRoutes, ProxySeesTheRouteAndTheNextRequestGoesDirect) {
  const ProxyCase& c = GetParam();
  RecordingProxy proxy(c.kind, c.required);
  ST_Proxy settings{c.use, "127.0.0.1", std::to_string(proxy.Port() + (c.portAbove16Bits ? 65536 : 0)),
                    c.required ? c.required->user : "user", c.required ? c.required->password : "pass", c.auth};
  const std::string url = "https://" + std::string(c.host) + ":" + std::to_string(service.Port()) + "/via";
  service.SetRoute("GET", "/via", Route::Ok("through"));

  SetupHttpClient(api, "", "", settings);
  const HttpResult r = api.Get(url);
  ASSERT_TRUE(r.ok()) << r.message;
  EXPECT_EQ(r.body, "through");
  const auto seen = proxy.Seen();
  if (*c.seenKind == '\0') {
    EXPECT_TRUE(seen.empty());
    return;
  }
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].kind, c.seenKind);
  EXPECT_EQ(seen[0].targetHost, c.seenHost);
  EXPECT_EQ(seen[0].targetPort, service.Port());
  EXPECT_EQ(seen[0].user, c.seenUser);
  EXPECT_EQ(seen[0].password, c.seenPassword);
  EXPECT_EQ(seen[0].proxyAuthorization,
            c.seenProxyAuthorization ? BasicAuthorization(c.seenUser, c.seenPassword) : "");
  if (c.kind == RecordingProxy::Kind::HttpConnect) {
    EXPECT_EQ(seen[0].method, "CONNECT");
  }

  SetupHttpClient(api, "", "", {});
  EXPECT_TRUE(api.Get("https://127.0.0.1:" + std::to_string(service.Port()) + "/via").ok());
  EXPECT_EQ(proxy.Seen().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Table, ProxyRoutes, ::testing::ValuesIn(kProxyCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HttpClientTest, HttpProxyWithoutPortIsPortZero) {
  SetupHttpClient(api, "", "", {"HTTP", "127.0.0.1", "", "", "", ""});
  const HttpResult r = api.Get(service.BaseUrl() + "/any");
  EXPECT_EQ(r.failure, HttpFailure::Socket) << r.message;
  EXPECT_NE(r.message.find("port 0"), std::string::npos) << r.message;
  EXPECT_TRUE(service.Requests().empty());
}

TEST_F(HttpClientTest, ThroughDebianProxies) {
  const struct {
    RealProxy::Kind kind;
    const char* use;
    std::optional<Credentials> required;
  } cases[] = {{RealProxy::Kind::HttpConnect, "HTTP", std::nullopt},
               {RealProxy::Kind::Socks5, "SOCKS5", Credentials{"su", "sp"}}};
  service.SetRoute("GET", "/real", Route::Ok("real"));
  for (const auto& c : cases) {
    RealProxy proxy(c.kind, c.required);
    SetupHttpClient(api, "", "", {c.use, "127.0.0.1", std::to_string(proxy.Port()), "su", "sp", c.required ? "Y" : ""});
    const HttpResult r = api.Get("https://127.0.0.1:" + std::to_string(service.Port()) + "/real");
    EXPECT_TRUE(r.ok()) << c.use << ": " << r.message;
    EXPECT_EQ(r.body, "real");
  }
}

}  // namespace
}  // namespace qvu
