// Each client keeps its connection from one request to the next, for as long as the server
// keeps it and only for the same route; a connection the server closed is no failure, and a
// POST is never sent twice.
#include <gtest/gtest.h>

#include "net/HttpClient.h"
#include "net/XmlMod.h"
#include "tests/net/NetTestSupport.h"

namespace qvu {
namespace {

using namespace qvu::nettest;

class KeepAlive : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { TrustTestAuthority(); }
  void SetUp() override {
    for (int i = 0; i < 5; ++i) service.SetFile("f" + std::to_string(i), "file " + std::to_string(i));
  }

  // HEAD and GET of each file, each after its own set-up, as the downloads do them.
  void FetchFiles(HttpClient& client, const std::string& user = "ver") {
    for (int i = 0; i < 5; ++i) {
      const std::string url = service.BaseUrl() + "/zeph/files/file/f" + std::to_string(i);
      SetupHttpClient(client, user, "pw", {});
      const HttpResult head = client.Head(url);
      EXPECT_TRUE(head.ok()) << i << ": " << head.message;
      SetupHttpClient(client, user, "pw", {});
      const HttpResult get = client.Get(url);
      EXPECT_TRUE(get.ok()) << i << ": " << get.message;
      EXPECT_EQ(get.body, "file " + std::to_string(i));
    }
  }

  std::string domain = "localhost", certText, befCn;
  HttpClient download{HttpClient::Role::Download, {&domain, &certText, &befCn}};
  TestService service{LocalhostCert()};
};

TEST_F(KeepAlive, ManyRequestsShareOneConnectionAndOneHandshake) {
  FetchFiles(download);
  ConnectionCount count = service.Connections();
  EXPECT_EQ(count.tcp, 1);
  EXPECT_EQ(count.handshakes, 1);

  // Other credentials, a closed connection: a new one each.
  FetchFiles(download, "other");
  download.Disconnect();
  FetchFiles(download, "other");
  count = service.Connections();
  EXPECT_EQ(count.tcp, 3);
  EXPECT_EQ(count.handshakes, 3);
  EXPECT_EQ(count.resumed, 0) << "every handshake shows the certificate";
}

TEST_F(KeepAlive, AServerThatClosesAfterEveryAnswerStillServes) {
  for (ConnectionMode mode : {ConnectionMode::CloseAfterAnswer, ConnectionMode::DropAfterAnswer}) {
    service.ClearRequests();
    service.SetConnectionMode(mode);
    FetchFiles(download);
    EXPECT_EQ(service.Connections().tcp, 10) << static_cast<int>(mode);
  }
}

TEST_F(KeepAlive, AConnectionClosedAsItIsTakenUpAgainIsReplacedForHeadAndGet) {
  service.SetConnectionMode(ConnectionMode::DropReused);
  FetchFiles(download);
  // Every request after the first met the kept connection closing, and went again.
  EXPECT_EQ(service.Requests().size(), 19u);
  EXPECT_EQ(service.Connections().tcp, 10);
}

TEST_F(KeepAlive, ThePostIsNeverSentTwice) {
  service.SetConnectionMode(ConnectionMode::DropReused);
  service.SetRoute("GET", "/quelta/api/office/gvermgr",
                   Route::Ok("<DATAPACKET><METADATA><FIELDS/></METADATA><ROWDATA/></DATAPACKET>"));
  service.SetRoute("POST", "/quelta/api/office/sverlog", Route::Ok("OK"));
  TXmlMod xml;
  xml._domain = "localhost";
  xml._url = service.BaseUrl() + "/quelta/api/office/gvermgr";
  ASSERT_TRUE(xml.GetVersionInfo()) << xml._errorMessage;
  STVersion_tb v;
  v.FILENAME = "a.txt";
  ASSERT_TRUE(xml.MakeVersionLogXml({v}));
  xml._url = service.BaseUrl() + "/quelta/api/office/sverlog";
  EXPECT_FALSE(xml.PostVersionLog());
  EXPECT_EQ(xml._errorMessage, "ネットワークエラーが発生しました(ResponseCode = -1)");
  int posts = 0;
  for (const Request& r : service.Requests()) posts += r.method == "POST";
  EXPECT_EQ(posts, 1);

  // On a connection of its own it goes through.
  service.SetConnectionMode(ConnectionMode::KeepAlive);
  EXPECT_TRUE(xml.PostVersionLog()) << xml._errorMessage;
}

TEST_F(KeepAlive, SilenceOnAKeptConnectionIsAReadTimeOut) {
  Route silent;
  silent.silent = true;
  service.SetRoute("GET", "/silent", silent);
  FetchFiles(download);
  download.readTimeoutMs = 1000;
  SetupHttpClient(download, "ver", "pw", {});
  const HttpResult r = download.Get(service.BaseUrl() + "/silent");
  EXPECT_EQ(r.failure, HttpFailure::ReadTimeout) << r.message;
  EXPECT_EQ(service.Connections().tcp, 1);
}

}  // namespace
}  // namespace qvu
