// Shared by the network tests: trust in the test authority, a port nobody listens on,
// and matching failure texts around the library's own message.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "tests/harness/Harness.h"

namespace qvu::nettest {

using namespace qvu::testing;

// Every test process trusts the shared test authority, as a machine trusts its roots.
inline void TrustTestAuthority() {
  setenv("SSL_CERT_FILE", CertificateAuthority::Shared().RootFile().c_str(), 1);
}

// A certificate for localhost from the test authority, made once per test process.
inline const Certificate& LocalhostCert() {
  static const Certificate cert = CertificateAuthority::Shared().Issue("localhost");
  return cert;
}

// SSL_CERT_FILE pointed elsewhere for the life of the object.
class ScopedCertFile {
 public:
  explicit ScopedCertFile(const std::string& path) { setenv("SSL_CERT_FILE", path.c_str(), 1); }
  ~ScopedCertFile() { TrustTestAuthority(); }
};

// A loopback port that was free a moment ago and has no listener now.
inline int RefusedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

// A name that cannot resolve: the over-long label makes the resolver give up before any
// query leaves the machine.
inline std::string UnresolvableHost() { return std::string(70, 'x') + ".invalid"; }

// "{M}" in the expected text stands for the library's message, which must not be empty.
inline ::testing::AssertionResult TextMatches(const std::string& actual, const std::string& expected) {
  const size_t m = expected.find("{M}");
  if (m == std::string::npos) {
    if (actual == expected) return ::testing::AssertionSuccess();
  } else {
    const std::string head = expected.substr(0, m), tail = expected.substr(m + 3);
    if (actual.size() > head.size() + tail.size() && actual.compare(0, head.size(), head) == 0 &&
        actual.compare(actual.size() - tail.size(), tail.size(), tail) == 0)
      return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "text: " << actual << "\nexpected: " << expected;
}

}  // namespace qvu::nettest
