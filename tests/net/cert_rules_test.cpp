// The certificate judgement without a network: one table row per rule and edge.
#include <gtest/gtest.h>

#include <string>

#include "net/CertCheck.h"
#include "support/Common.h"

namespace qvu {
namespace {

constexpr TDateTime kNow = 46000.5;
constexpr TDateTime kSecond = 1.0 / 86400;

struct Case {
  const char* name;
  TDateTime notBefore, notAfter;  // offsets from now
  const char* issuer;
  const char* subject;
  bool chainTrusted;
  const char* domain;
  const char* befBefore;
  bool accepted;
  const char* textAfter;  // _certErrorMessage after the call, which starts as "old"
  const char* befAfter;
};

const char* const kOld = "old";

const Case kCases[] = {
    // Validity: from notBefore inclusive to notAfter exclusive.
    {"notBeforeNowPasses", 0, 1, "/CN=CA", "/O=Org/CN=host", true, "host", "", true, kOld, "host"},
    {"notBeforeLater", kSecond, 1, "/CN=CA", "/CN=host", true, "host", "", false, kCertValidityText, ""},
    {"notAfterNowRefused", -1, 0, "/CN=CA", "/CN=host", true, "host", "", false, kCertValidityText, ""},
    {"expired", -1, -kSecond, "/CN=CA", "/CN=host", true, "host", "", false, kCertValidityText, ""},
    // Self-issued, also without any CN.
    {"selfIssued", -1, 1, "/O=A/CN=host", "/O=B/CN=host", true, "host", "", false, kCertTrustText, ""},
    {"noCnAnywhere", -1, 1, "/O=A", "/O=B", true, "", "", false, kCertTrustText, ""},
    // The system's roots: an untrusted chain is refused, but dates are judged first, and
    // a refused certificate never enters the chain memory.
    {"untrustedChain", -1, 1, "/CN=CA", "/CN=host", false, "host", "", false, kCertTrustText, ""},
    {"untrustedAndExpired", -1, -kSecond, "/CN=CA", "/CN=host", false, "host", "", false, kCertValidityText, ""},
    // Chain memory.
    {"sameCertAgain", -1, 1, "/CN=X", "/CN=host", true, "host", "host", true, kOld, "host"},
    {"issuedByRemembered", -1, 1, "/CN=A", "/CN=host", true, "host", "A", true, kOld, "host"},
    {"notIssuedByRemembered", -1, 1, "/CN=X", "/CN=B", true, "B", "A", false, kCertTrustText, "A"},
    // Names: exact, below, wildcard; case counts; no match leaves the text alone.
    {"plainExact", -1, 1, "/CN=CA", "/CN=example.com", true, "example.com", "", true, kOld, "example.com"},
    {"plainSubdomain", -1, 1, "/CN=CA", "/CN=example.com", true, "www.example.com", "", true, kOld, "example.com"},
    {"plainOtherName", -1, 1, "/CN=CA", "/CN=example.com", true, "badexample.com", "", false, kOld, "example.com"},
    {"plainCase", -1, 1, "/CN=CA", "/CN=Example.com", true, "example.com", "", false, kOld, "Example.com"},
    {"wildcardSubdomain", -1, 1, "/CN=CA", "/CN=*.example.com", true, "a.b.example.com", "", true, kOld, "*.example.com"},
    {"wildcardBase", -1, 1, "/CN=CA", "/CN=*.example.com", true, "example.com", "", true, kOld, "*.example.com"},
    {"wildcardOtherName", -1, 1, "/CN=CA", "/CN=*.example.com", true, "badexample.com", "", false, kOld, "*.example.com"},
    {"wildcardElsewhere", -1, 1, "/CN=CA", "/CN=*.example.com", true, "example.org", "", false, kOld, "*.example.com"},
    {"domainWithPort", -1, 1, "/CN=CA", "/CN=example.com", true, "example.com:8443", "", true, kOld, "example.com"},
    {"ipv6DomainWithPort", -1, 1, "/CN=CA", "/CN=::1", true, "[::1]:8443", "", true, kOld, "::1"},
    // Without a subject CN the name matches no domain but the empty one.
    {"noSubjectCn", -1, 1, "/CN=CA", "/O=Org", true, "host", "", false, kOld, ""},
    {"noSubjectCnEmptyDomain", -1, 1, "/CN=CA", "/O=Org", true, "", "", true, kOld, ""},
    {"emptyDomain", -1, 1, "/CN=CA", "/CN=host", true, "", "", false, kOld, "host"},
    {"emptyDomainBareWildcard", -1, 1, "/CN=CA", "/CN=*.", true, "", "", true, kOld, "*."},
    // Only "/" separates and only upper-case CN= counts.
    {"lowerCaseCnIgnored", -1, 1, "/CN=CA", "/cn=host/CN=real", true, "real", "", true, kOld, "real"},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class CertRules : public ::testing::TestWithParam<Case> {};

TEST_P(CertRules, Judges) {
  const Case& c = GetParam();
  ServerCertificate cert{kNow + c.notBefore, kNow + c.notAfter, GetCommonName(c.issuer),
                         GetCommonName(c.subject)};
  std::string text = kOld;
  std::string bef = c.befBefore;
  EXPECT_EQ(JudgeServerCertificate(&cert, c.chainTrusted, kNow, c.domain, text, bef), c.accepted);
  EXPECT_EQ(text, c.textAfter);
  EXPECT_EQ(bef, c.befAfter);
}

INSTANTIATE_TEST_SUITE_P(Table, CertRules, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CertRulesMissing, NoCertificateIsRefusedWithItsText) {
  std::string text, bef = "A";
  EXPECT_FALSE(JudgeServerCertificate(nullptr, true, kNow, "host", text, bef));
  EXPECT_EQ(text, kCertMissingText);
  EXPECT_EQ(bef, "A");
}

}  // namespace
}  // namespace qvu
