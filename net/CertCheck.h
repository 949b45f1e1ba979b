// The program's own judgement of the web service's certificate. Each HTTP client owner
// (the data module and the main window) keeps three fields for it; the judgement reads and
// writes them through CertOwnerFields, so each owner has its own chain memory.
#pragma once

#include <string>

#include <curl/curl.h>

#include "support/DateTime.h"

namespace qvu {

extern const char* const kCertMissingText;   // no certificate
extern const char* const kCertValidityText;  // outside its validity period
extern const char* const kCertTrustText;     // self-issued, broken chain, or not trusted

// Pointers to the owner's fields; the owner outlives every request of its client.
struct CertOwnerFields {
  std::string* domain = nullptr;            // host of the web service, maybe "host:port"
  std::string* certErrorMessage = nullptr;  // refusal text; "" means none
  std::string* befSubjectCn = nullptr;      // subject CN last taken into the chain
};

// What the judgement needs of the server's own certificate.
struct ServerCertificate {
  TDateTime notBefore = 0;  // local time
  TDateTime notAfter = 0;   // local time
  // The first commonName entry of each name as the certificate holds it, "" when it has
  // none. Taken from the entries, never cut out of a one-line text: a value may hold
  // "/CN=" itself (an O of "Org/CN=host"), and no text form keeps that apart from a real
  // CN entry.
  std::string issuerCn;
  std::string subjectCn;
};

// The host part of a Domain setting: "host:443" -> "host", "[::1]:443" -> "::1".
std::string DomainHost(const std::string& domain);

// Judges the server's certificate (nullptr: none was presented). chainTrusted is the TLS
// library's verdict over the whole chain against the system's trusted roots. True accepts.
// A refusal leaves its text in certErrorMessage, except a host name mismatch, which
// leaves it as it was. befSubjectCn only ever moves from "" to a trusted certificate's
// subject CN, or along an issuer link to the next one; it is never emptied.
bool JudgeServerCertificate(const ServerCertificate* cert, bool chainTrusted, TDateTime now,
                            const std::string& domain, std::string& certErrorMessage,
                            std::string& befSubjectCn);

// State of the handshake under way on one client: set up by InstallCertCheck, read by
// the verify callback. Lives in the client so that it survives the handshake.
struct CertCheckState {
  CertOwnerFields owner;
  bool chainNegative = false;  // any certificate of this chain failed OpenSSL's checks
  std::string setupError;      // why the trusted roots could not be loaded
};

// curl's SSL context hook (CURLOPT_SSL_CTX_FUNCTION with CURLOPT_SSL_CTX_DATA = the
// client's CertCheckState): loads the system's trusted roots (honouring SSL_CERT_FILE and
// SSL_CERT_DIR) and installs the verify callback. An SSL_CERT_FILE that holds no
// certificate fails the set-up with CURLE_SSL_CACERT_BADFILE.
CURLcode InstallCertCheck(CURL* curl, void* sslCtx, void* state);

}  // namespace qvu
