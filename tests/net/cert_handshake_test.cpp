// The certificate check through real TLS handshakes with the test service: the refusal
// texts reach the request's error text, and each owner keeps its own chain memory.
#include <gtest/gtest.h>

#include "net/XmlMod.h"
#include "tests/net/NetTestSupport.h"

namespace qvu {
namespace {

using namespace qvu::nettest;

const char kListPath[] = "/quelta/api/office/gvermgr";
const char kConnectFailure[] = "バージョン情報の取得の際にサーバ接続でエラーが発生しました(Error = {M})";

std::string Packet() {
  return "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS/></METADATA><ROWDATA/></DATAPACKET>";
}

CertSpec Spec(const std::string& cn, Issuer issuer = Issuer::Intermediate) {
  CertSpec spec;
  spec.cn = cn;
  spec.issuer = issuer;
  return spec;
}

// A subject whose O value holds "/CN=localhost" before its real CN.
CertSpec SlashInOrganisation(const std::string& cn) {
  CertSpec spec = Spec(cn);
  spec.subjectExtra = {{"O", "Org/CN=localhost"}};
  return spec;
}

struct HandshakeCase {
  const char* name;
  CertSpec spec;
  const char* domain;
  const char* text;  // nullptr: accepted
};

void PrintTo(const HandshakeCase& c, std::ostream* os) { *os << c.name; }

CertSpec Bounds(TimeBound notBefore, TimeBound notAfter) {
  CertSpec spec = Spec("localhost");
  spec.notBefore = notBefore;
  spec.notAfter = notAfter;
  return spec;
}

class Handshake : public ::testing::TestWithParam<HandshakeCase> {
 protected:
  static void SetUpTestSuite() { TrustTestAuthority(); }
};

TEST_P(Handshake, JudgesTheServersCertificate) {
  const HandshakeCase& c = GetParam();
  TestService service(CertificateAuthority::Shared().Issue(c.spec));
  service.SetRoute("GET", kListPath, Route::Ok(Packet()));
  TXmlMod xml;
  xml._domain = c.domain;
  xml._url = service.BaseUrl() + kListPath;
  const bool ok = xml.GetVersionInfo();
  EXPECT_EQ(ok, c.text == nullptr) << xml._errorMessage;
  if (c.text != nullptr) {
    EXPECT_TRUE(TextMatches(xml._errorMessage, c.text));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Handshake,
    ::testing::Values(
        HandshakeCase{"validThroughIntermediate", Spec("localhost"), "localhost", nullptr},
        HandshakeCase{"issuedByRoot", Spec("localhost", Issuer::Root), "localhost:8443", nullptr},
        HandshakeCase{"expired", Bounds(TimeBound::FromNow(-7200), TimeBound::FromNow(-60)), "localhost",
                      kCertValidityText},
        HandshakeCase{"notYetValid", Bounds(TimeBound::FromNow(3600), TimeBound::FromNow(7200)), "localhost",
                      kCertValidityText},
        HandshakeCase{"selfSigned", Spec("localhost", Issuer::SelfSigned), "localhost", kCertTrustText},
        HandshakeCase{"untrustedAuthorityWithOurNames", Spec("localhost", Issuer::Untrusted), "localhost",
                      kCertTrustText},
        HandshakeCase{"plainNameSubdomain", Spec("example.com"), "www.example.com", nullptr},
        HandshakeCase{"plainNameOtherDomain", Spec("example.com"), "badexample.com", kConnectFailure},
        HandshakeCase{"wildcard", Spec("*.example.com"), "a.example.com", nullptr},
        HandshakeCase{"caseDiffers", Spec("LOCALHOST"), "localhost", kConnectFailure},
        HandshakeCase{"emptyDomain", Spec("localhost"), "", kConnectFailure},
        // The one-line text of this subject reads "/O=Org\/CN=localhost/CN=attacker.example".
        HandshakeCase{"commonNameInsideAnotherValue", SlashInOrganisation("attacker.example"), "localhost",
                      kConnectFailure}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ChainMemory, EachOwnerRemembersItsFirstCertificate) {
  TrustTestAuthority();
  TestService a(CertificateAuthority::Shared().Issue(Spec("a.example.com")));
  TestService b(CertificateAuthority::Shared().Issue(Spec("b.example.com")));
  a.SetRoute("GET", kListPath, Route::Ok(Packet()));
  b.SetRoute("GET", kListPath, Route::Ok(Packet()));

  TXmlMod xml;
  xml._domain = "a.example.com";
  xml._url = a.BaseUrl() + kListPath;
  ASSERT_TRUE(xml.GetVersionInfo()) << xml._errorMessage;
  ASSERT_TRUE(xml.GetVersionInfo()) << xml._errorMessage;  // the same certificate again
  EXPECT_EQ(xml._befSubjectCn, "a.example.com");

  // b's certificate was not issued by the remembered a.example.com.
  xml._domain = "b.example.com";
  xml._url = b.BaseUrl() + kListPath;
  EXPECT_FALSE(xml.GetVersionInfo());
  EXPECT_EQ(xml._errorMessage, kCertTrustText);
  EXPECT_EQ(xml._befSubjectCn, "a.example.com");

  // The download client's owner has a memory of its own.
  std::string domain = "b.example.com", text, bef;
  HttpClient download(HttpClient::Role::Download, {&domain, &text, &bef});
  SetupHttpClient(download, "", "", {});
  EXPECT_TRUE(download.Get(b.BaseUrl() + kListPath).ok()) << text;
  EXPECT_EQ(bef, "b.example.com");
}


TEST(ChainMemory, ACommonNameInsideAnotherValueMakesNoLink) {
  TrustTestAuthority();
  CertificateAuthority& ca = CertificateAuthority::Shared();
  TestService first(ca.Issue(Spec("localhost")));
  first.SetRoute("GET", kListPath, Route::Ok(Packet()));
  TXmlMod xml;
  xml._domain = "shop.localhost";
  xml._url = first.BaseUrl() + kListPath;
  ASSERT_TRUE(xml.GetVersionInfo()) << xml._errorMessage;
  ASSERT_EQ(xml._befSubjectCn, "localhost");

  // An authority below the trusted root whose O reads "Org/CN=localhost": its issuer text
  // holds the remembered name, its common name is another.
  CertSpec authority = SlashInOrganisation("Other Issuing CA");
  authority.issuer = Issuer::Root;
  authority.authority = true;
  const Certificate other = ca.Issue(authority);
  CertSpec leaf = Spec("shop.localhost");
  leaf.signer = &other;
  TestService second(ca.Issue(leaf));
  second.SetRoute("GET", kListPath, Route::Ok(Packet()));
  xml._url = second.BaseUrl() + kListPath;
  EXPECT_FALSE(xml.GetVersionInfo());
  EXPECT_EQ(xml._errorMessage, kCertTrustText);
  EXPECT_EQ(xml._befSubjectCn, "localhost");
}


TEST(ChainMemory, ASecondConnectionIsJudgedAgainstTheFirst) {
  // The service shows its second certificate from its second connection on: CN 127.0.0.1,
  // from the same authority, not issued by the remembered localhost.
  TrustTestAuthority();
  CertificateAuthority& ca = CertificateAuthority::Shared();
  TestService service(ca.Issue(Spec("localhost")), ca.Issue(Spec("127.0.0.1")));
  service.SetRoute("GET", kListPath, Route::Ok(Packet()));
  TXmlMod xml;
  xml._domain = "localhost";
  xml._url = service.BaseUrl() + kListPath;
  ASSERT_TRUE(xml.GetVersionInfo()) << xml._errorMessage;
  // The kept connection and its certificate serve again.
  ASSERT_TRUE(xml.GetVersionInfo()) << xml._errorMessage;
  EXPECT_EQ(service.Connections().handshakes, 1);

  service.SetConnectionMode(ConnectionMode::CloseAfterAnswer);
  ASSERT_TRUE(xml.GetVersionInfo()) << xml._errorMessage;  // still on the first connection
  EXPECT_FALSE(xml.GetVersionInfo()) << "a new handshake, the other certificate";
  EXPECT_EQ(xml._errorMessage, kCertTrustText);
  EXPECT_EQ(xml._befSubjectCn, "localhost");
  EXPECT_EQ(service.Connections().tcp, 2);
}

}  // namespace
}  // namespace qvu
