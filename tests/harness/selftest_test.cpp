// The harness's own checks, with a plain libcurl client that trusts the test authority.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/harness/Harness.h"

namespace qvu::testing {
namespace {

constexpr const char* kHost = "update.qvu.test";

struct Reply {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string body;
  double contentLength = -1;
};

struct Call {
  std::string method = "GET";
  std::string url;
  std::vector<std::string> headers;
  std::string postField;  // sent as the multipart field "data" when not empty
  std::string proxy;      // curl proxy URL, e.g. "socks5h://127.0.0.1:1080"
  std::string proxyUser;  // "user:password"
  long tlsMax = 0;        // CURL_SSLVERSION_MAX_*; 0: curl's default
  long tlsMin = CURL_SSLVERSION_TLSv1_2;
  long timeoutMs = 10000;
  bool follow = false;
  std::vector<int> otherPorts;  // more ports on which kHost resolves to 127.0.0.1
};

size_t Collect(char* data, size_t size, size_t n, void* target) {
  static_cast<std::string*>(target)->append(data, size * n);
  return size * n;
}

Reply Perform(const Call& call, int port) {
  Reply reply;
  CURL* curl = curl_easy_init();
  curl_slist* resolves = nullptr;
  std::vector<int> ports = call.otherPorts;
  ports.push_back(port);
  for (int p : ports) {
    const std::string resolve = std::string(kHost) + ":" + std::to_string(p) + ":127.0.0.1";
    resolves = curl_slist_append(resolves, resolve.c_str());
  }
  curl_slist* headers = nullptr;
  for (const auto& h : call.headers) headers = curl_slist_append(headers, h.c_str());
  curl_mime* mime = nullptr;

  curl_easy_setopt(curl, CURLOPT_URL, call.url.c_str());
  curl_easy_setopt(curl, CURLOPT_RESOLVE, resolves);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_CAINFO, CertificateAuthority::Shared().RootFile().c_str());
  curl_easy_setopt(curl, CURLOPT_SSLVERSION, call.tlsMin | call.tlsMax);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, call.timeoutMs);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, call.follow ? 1L : 0L);
  if (call.method == "HEAD") curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  if (!call.postField.empty()) {
    mime = curl_mime_init(curl);
    curl_mimepart* part = curl_mime_addpart(mime);
    curl_mime_name(part, "data");
    curl_mime_data(part, call.postField.data(), call.postField.size());
    curl_easy_setopt(curl, CURLOPT_MIMEPOST, mime);
  }
  if (!call.proxy.empty()) {
    curl_easy_setopt(curl, CURLOPT_PROXY, call.proxy.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPPROXYTUNNEL, 1L);
    if (!call.proxyUser.empty()) curl_easy_setopt(curl, CURLOPT_PROXYUSERPWD, call.proxyUser.c_str());
  }
  reply.code = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
  curl_off_t length = -1;
  curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  reply.contentLength = static_cast<double>(length);
  curl_mime_free(mime);
  curl_slist_free_all(headers);
  curl_slist_free_all(resolves);
  curl_easy_cleanup(curl);
  return reply;
}

std::string UrlOf(const TestService& service, const std::string& pathAndQuery) {
  return service.BaseUrl(kHost) + pathAndQuery;
}

class HarnessTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { curl_global_init(CURL_GLOBAL_DEFAULT); }
  static Certificate& ServerCert() {
    static Certificate cert = CertificateAuthority::Shared().Issue(kHost);
    return cert;
  }
};

TEST_F(HarnessTest, IssuesCertificatesWithTheAskedNamesIssuersAndBounds) {
  CertificateAuthority& ca = CertificateAuthority::Shared();
  const std::time_t past = 1262304000;  // 2010-01-01 00:00:00 UTC
  auto spec = [](std::string cn, Issuer issuer, HeaderList extra = {}) {
    CertSpec s;
    s.cn = std::move(cn);
    s.issuer = issuer;
    s.subjectExtra = std::move(extra);
    return s;
  };
  CertSpec expired = spec("old.qvu.test", Issuer::Intermediate);
  expired.notBefore = TimeBound::AtUtc(past);
  expired.notAfter = TimeBound::FromNow(-60);
  CertSpec reordered;
  reordered.rawSubject = "/OU=x/CN=c.qvu.test/O=y";
  const std::string intermediate = "/O=Quelta Test/CN=Quelta Test Intermediate CA";
  struct Case {
    CertSpec spec;
    std::string subject, issuer;
    bool verifies;  // by OpenSSL against the shared root
  } cases[] = {
      {spec("a.qvu.test", Issuer::Intermediate, {{"C", "JP"}, {"O", "Salon/Shop"}}),
       "/C=JP/O=Salon\\/Shop/CN=a.qvu.test", intermediate, true},
      {spec("", Issuer::Root, {{"O", "No Name"}}), "/O=No Name",
       "/O=Quelta Test/CN=Quelta Test Root CA", true},
      {spec("self.qvu.test", Issuer::SelfSigned), "/CN=self.qvu.test", "/CN=self.qvu.test", false},
      {spec("b.qvu.test", Issuer::Untrusted), "/CN=b.qvu.test", intermediate, false},
      {expired, "/CN=old.qvu.test", intermediate, false},
      {reordered, "/OU=x/CN=c.qvu.test/O=y", intermediate, true},
  };
  for (const Case& c : cases) {
    Certificate cert = ca.Issue(c.spec);
    EXPECT_EQ(cert.subject, c.subject);
    EXPECT_EQ(cert.issuer, c.issuer);
    std::string output;
    int rc = RunProgram({"openssl", "verify", "-CAfile", ca.RootFile(), "-untrusted", cert.certFile,
                         cert.certFile},
                        &output);
    EXPECT_EQ(rc == 0, c.verifies) << c.subject << ": " << output;
  }
  Certificate old = ca.Issue(expired);
  EXPECT_EQ(old.notBefore, past);
  std::string dates;
  RunProgram({"openssl", "x509", "-in", old.certFile, "-noout", "-startdate"}, &dates);
  EXPECT_EQ(dates, "notBefore=Jan  1 00:00:00 2010 GMT\n");
}

TEST_F(HarnessTest, RecordsMethodPathQueryHeadersAndMultipartBody) {
  TestService service(ServerCert());
  service.SetRoute("POST", "/quelta/api/office/sverlog", Route::Ok("OK"));
  Call call;
  call.method = "POST";
  call.url = UrlOf(service, "/quelta/api/office/sverlog?SALONID=S%201&x=%E6%97%A5");
  call.headers = {"X-Mixed-Case: one", "authorization: Basic dTpw"};
  call.postField = std::string("<a b=\"&amp;\"/>\r\n\0\xff", 17);

  Reply reply = Perform(call, service.Port());
  ASSERT_EQ(reply.code, CURLE_OK) << curl_easy_strerror(reply.code);
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, "OK");

  auto requests = service.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const Request& r = requests[0];
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.path, "/quelta/api/office/sverlog");
  EXPECT_EQ(r.query, "SALONID=S%201&x=%E6%97%A5");
  EXPECT_EQ(r.Header("x-mixed-case"), "one");
  EXPECT_EQ(r.Header("Authorization"), "Basic dTpw");
  bool namesAsSent = false;
  for (const auto& [name, value] : r.headers) namesAsSent |= name == "X-Mixed-Case";
  EXPECT_TRUE(namesAsSent);
  EXPECT_NE(r.Header("Content-Type").find("multipart/form-data; boundary="), std::string::npos);
  EXPECT_NE(r.body.find(call.postField), std::string::npos) << "multipart body bytes kept";
  EXPECT_NE(r.body.find("name=\"data\""), std::string::npos);

  service.ClearRequests();
  EXPECT_TRUE(service.Requests().empty());
  call = Call{};
  call.url = UrlOf(service, "/nowhere");
  EXPECT_EQ(Perform(call, service.Port()).status, 404);
  ASSERT_EQ(service.Requests().size(), 1u);
  EXPECT_EQ(service.Requests()[0].path, "/nowhere");
}

TEST_F(HarnessTest, ServesFilesByHeadAndGetWithDecodedNames) {
  TestService service(ServerCert());
  const std::string bytes = std::string("PK\x03\x04", 4) + std::string(3 << 20, 'z');
  service.SetFile("データ 1.zip", bytes);
  TempFolder folder;
  WriteFileBytes(folder / "big.bin", "linked, not copied");
  service.SetFileFromPath("big.bin", folder / "big.bin");

  struct Case {
    const char* method;
    std::string path;
    long status;
    std::string body;
    double length;
  } cases[] = {
      {"HEAD", "/zeph/files/file/%E3%83%87%E3%83%BC%E3%82%BF%201.zip", 200, "", double(bytes.size())},
      {"GET", "/zeph/files/file/%E3%83%87%E3%83%BC%E3%82%BF%201.zip", 200, bytes, double(bytes.size())},
      {"GET", "/zeph/files/file/big.bin", 200, "linked, not copied", 18},
      {"GET", "/zeph/files/file/missing.zip", 404, "Not Found\n", 10},
      {"GET", "/zeph/files/file/..%2F..%2Fetc%2Fpasswd", 404, "Not Found\n", 10},
  };
  for (const Case& c : cases) {
    Call call;
    call.method = c.method;
    call.url = UrlOf(service, c.path);
    Reply reply = Perform(call, service.Port());
    ASSERT_EQ(reply.code, CURLE_OK) << c.method << " " << c.path;
    EXPECT_EQ(reply.status, c.status) << c.method << " " << c.path;
    EXPECT_EQ(reply.body.size(), c.body.size()) << c.method << " " << c.path;
    EXPECT_TRUE(reply.body == c.body) << c.method << " " << c.path;
    EXPECT_EQ(reply.contentLength, c.length) << c.method << " " << c.path;
  }
  auto requests = service.Requests();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[0].method, "HEAD");
  EXPECT_EQ(requests[0].path, "/zeph/files/file/データ 1.zip");
  EXPECT_EQ(requests[0].rawPath, "/zeph/files/file/%E3%83%87%E3%83%BC%E3%82%BF%201.zip");
}

TEST_F(HarnessTest, RoutesAnswerAsConfiguredAndRedirectsLeadElsewhere) {
  TestService service(ServerCert());
  TestService other(ServerCert());
  other.SetRoute("GET", "/there", Route::Ok("arrived"));
  service.SetRoute("GET", "/moved", Route::Redirect(UrlOf(other, "/there")));
  Route zipped = Route::Ok("<DATAPACKET/>", {{"Content-Type", "text/xml"}});
  zipped.gzip = true;
  service.SetRoute("GET", "/zipped", zipped);
  Route closing;
  closing.closeWithoutAnswer = true;
  service.SetRoute("GET", "/close", closing);

  Call call;
  call.url = UrlOf(service, "/moved?keep=1");
  call.follow = true;
  call.otherPorts = {other.Port()};
  Reply reply = Perform(call, service.Port());
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, "arrived");
  ASSERT_EQ(other.Requests().size(), 1u);
  EXPECT_EQ(other.Requests()[0].path, "/there");
  call.follow = false;

  call.url = UrlOf(service, "/zipped");
  call.headers = {"Accept-Encoding: gzip"};
  reply = Perform(call, service.Port());
  EXPECT_EQ(reply.status, 200);
  EXPECT_NE(reply.body, "<DATAPACKET/>") << "arrives compressed when the client does not decode";
  EXPECT_EQ(reply.body.substr(0, 2), "\x1f\x8b");

  call.url = UrlOf(service, "/close");
  call.headers.clear();
  EXPECT_EQ(Perform(call, service.Port()).code, CURLE_GOT_NOTHING);

  // Changing the table takes effect on the next request.
  service.SetRoute("GET", "/close", Route::Status(401, "denied"));
  reply = Perform(call, service.Port());
  EXPECT_EQ(reply.status, 401);
  EXPECT_EQ(reply.body, "denied");
  EXPECT_EQ(service.Requests().size(), 4u);
}

TEST_F(HarnessTest, ServiceSpeaksTls12Only) {
  TestService service(ServerCert());
  struct Case {
    long min, max;
    bool connects;
  } cases[] = {
      {CURL_SSLVERSION_TLSv1_2, CURL_SSLVERSION_MAX_TLSv1_2, true},
      {CURL_SSLVERSION_TLSv1_1, CURL_SSLVERSION_MAX_TLSv1_1, false},
      {CURL_SSLVERSION_TLSv1_3, CURL_SSLVERSION_MAX_TLSv1_3, false},
  };
  for (const Case& c : cases) {
    Call call;
    call.url = UrlOf(service, "/");
    call.tlsMin = c.min;
    call.tlsMax = c.max;
    Reply reply = Perform(call, service.Port());
    EXPECT_EQ(reply.code == CURLE_OK, c.connects) << curl_easy_strerror(reply.code);
  }
  EXPECT_EQ(service.Requests().size(), 1u);
}

TEST_F(HarnessTest, ProxiesRecordTheHandshakeAndRelayToTheService) {
  TestService service(ServerCert());
  service.SetRoute("GET", "/via", Route::Ok("relayed"));
  using Kind = RecordingProxy::Kind;
  struct Case {
    Kind kind;
    std::string scheme;  // curl's: socks4a and socks5h hand the host name to the proxy
    std::optional<Credentials> required;
    std::string kindSeen, hostSeen, userSeen, passwordSeen;
  } cases[] = {
      {Kind::HttpConnect, "http", Credentials{"px", "p:w"}, "http", kHost, "px", "p:w"},
      {Kind::Socks4, "socks4", std::nullopt, "socks4", "127.0.0.1", "px", ""},
      {Kind::Socks4a, "socks4a", std::nullopt, "socks4a", kHost, "px", ""},
      {Kind::Socks5, "socks5", std::nullopt, "socks5", "127.0.0.1", "", ""},
      {Kind::Socks5, "socks5h", Credentials{"px", "p:w"}, "socks5", kHost, "px", "p:w"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scheme);
    RecordingProxy proxy(c.kind, c.required);
    Call call;
    call.url = UrlOf(service, "/via");
    call.proxy = c.scheme + "://127.0.0.1:" + std::to_string(proxy.Port());
    call.proxyUser = c.kind == Kind::Socks5 && !c.required ? "" : "px:p%3Aw";
    Reply reply = Perform(call, service.Port());
    ASSERT_EQ(reply.code, CURLE_OK) << curl_easy_strerror(reply.code);
    EXPECT_EQ(reply.body, "relayed");
    auto seen = proxy.Seen();
    ASSERT_FALSE(seen.empty());
    const ProxyHandshake& h = seen.back();
    EXPECT_EQ(h.kind, c.kindSeen);
    EXPECT_EQ(h.targetHost, c.hostSeen);
    EXPECT_EQ(h.targetPort, service.Port());
    EXPECT_EQ(h.user, c.userSeen);
    EXPECT_EQ(h.password, c.passwordSeen);
    EXPECT_TRUE(h.accepted);
    if (c.kind == Kind::HttpConnect) {
      EXPECT_EQ(h.method, "CONNECT");
      EXPECT_EQ(h.proxyAuthorization, BasicAuthorization("px", "p:w"));
    }
  }

  // Wrong credentials are refused and still recorded.
  RecordingProxy strict(Kind::HttpConnect, Credentials{"px", "right"});
  Call call;
  call.url = UrlOf(service, "/via");
  call.proxy = "http://127.0.0.1:" + std::to_string(strict.Port());
  call.proxyUser = "px:wrong";
  EXPECT_NE(Perform(call, service.Port()).code, CURLE_OK);
  ASSERT_FALSE(strict.Seen().empty());
  EXPECT_FALSE(strict.Seen()[0].accepted);
  EXPECT_EQ(strict.Seen()[0].password, "wrong");
  EXPECT_EQ(service.Requests().size(), 5u);
}

TEST_F(HarnessTest, RealProxiesCarryTheConnection) {
  // These resolve the target themselves, and the test name resolves nowhere.
  TestService service(CertificateAuthority::Shared().Issue("127.0.0.1"));
  service.SetRoute("GET", "/via", Route::Ok("relayed"));
  struct Case {
    RealProxy::Kind kind;
    std::string scheme;
  } cases[] = {{RealProxy::Kind::HttpConnect, "http"}, {RealProxy::Kind::Socks5, "socks5"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scheme);
    RealProxy proxy(c.kind, Credentials{"px", "secret"});
    Call call;
    call.url = service.BaseUrl() + "/via";
    call.proxy = c.scheme + "://127.0.0.1:" + std::to_string(proxy.Port());
    call.proxyUser = "px:secret";
    Reply reply = Perform(call, service.Port());
    EXPECT_EQ(reply.code, CURLE_OK) << curl_easy_strerror(reply.code);
    EXPECT_EQ(reply.body, "relayed");
    call.proxyUser = "px:wrong";
    EXPECT_NE(Perform(call, service.Port()).code, CURLE_OK);
  }
  EXPECT_EQ(service.Requests().size(), 2u);
}

TEST_F(HarnessTest, SilentServersNeverAnswer) {
  SilentServer tcp;
  SilentServer tls(ServerCert());
  struct Case {
    int port;
    CURLcode code;
  } cases[] = {{tcp.Port(), CURLE_OPERATION_TIMEDOUT}, {tls.Port(), CURLE_OPERATION_TIMEDOUT}};
  for (const Case& c : cases) {
    Call call;
    call.url = "https://" + std::string(kHost) + ":" + std::to_string(c.port) + "/";
    call.timeoutMs = 700;
    EXPECT_EQ(Perform(call, c.port).code, c.code);
  }
  // The TLS one gets through the handshake: a client that insists on TLS 1.3 fails at once.
  Call call;
  call.url = "https://" + std::string(kHost) + ":" + std::to_string(tls.Port()) + "/";
  call.tlsMin = CURL_SSLVERSION_TLSv1_3;
  EXPECT_EQ(Perform(call, tls.Port()).code, CURLE_SSL_CONNECT_ERROR);
}

}  // namespace
}  // namespace qvu::testing
