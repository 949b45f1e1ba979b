#include "net/CertCheck.h"

#include <cstdlib>
#include <ctime>

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include "support/Common.h"

namespace qvu {

const char* const kCertMissingText = "サーバ証明書が確認できないため、通信を中断します。";
const char* const kCertValidityText = "サーバ証明書が有効期間内でないため、通信を中断します。";
const char* const kCertTrustText = "サーバ証明書に信憑性がないため、通信を中断します。";

std::string DomainHost(const std::string& domain) {
  if (!domain.empty() && domain[0] == '[') {
    size_t close = domain.find(']');
    return close == std::string::npos ? domain : domain.substr(1, close - 1);
  }
  size_t colon = domain.find(':');
  if (colon != std::string::npos && domain.find(':', colon + 1) == std::string::npos)
    return domain.substr(0, colon);
  return domain;
}

namespace {

// The host is the name itself or lies below it: a certificate for example.com must not
// pass for badexample.com.
bool IsNameOrBelow(const std::string& host, const std::string& name) {
  return host == name || EndsWithText("." + name, host);
}

}  // namespace

bool JudgeServerCertificate(const ServerCertificate* cert, bool chainTrusted, TDateTime now,
                            const std::string& domain, std::string& certErrorMessage,
                            std::string& befSubjectCn) {
  if (cert == nullptr) {
    certErrorMessage = kCertMissingText;
    return false;
  }
  // Valid from notBefore inclusive up to notAfter exclusive.
  if (cert->notBefore > now || !(cert->notAfter > now)) {
    certErrorMessage = kCertValidityText;
    return false;
  }
  const std::string& issuerCn = cert->issuerCn;
  const std::string& subjectCn = cert->subjectCn;
  if (issuerCn == subjectCn) {
    certErrorMessage = kCertTrustText;
    return false;
  }
  // Judged before the chain memory below learns from this certificate, so that a refused
  // certificate can never become the link later certificates are measured against.
  if (!chainTrusted) {
    certErrorMessage = kCertTrustText;
    return false;
  }
  if (befSubjectCn.empty()) {
    befSubjectCn = subjectCn;
  } else if (subjectCn != befSubjectCn) {
    if (issuerCn != befSubjectCn) {
      certErrorMessage = kCertTrustText;
      return false;
    }
    befSubjectCn = subjectCn;
  }

  const std::string host = DomainHost(domain);
  if (subjectCn == host) return true;
  const bool wildcard = subjectCn.compare(0, 2, "*.") == 0;
  // "*.example.com" keeps its dot here (".example.com"), which anchors the match to a
  // label boundary by itself.
  if (wildcard ? EndsWithText(subjectCn.substr(1), host) : IsNameOrBelow(host, subjectCn))
    return true;
  return IsNameOrBelow(host, wildcard ? subjectCn.substr(2) : subjectCn);
}

namespace {

int StateIndex() {
  static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

// The first commonName entry of the name in the certificate's order, as UTF-8 whatever
// string type holds it; "" when there is none or it cannot be read.
std::string FirstCommonName(const X509_NAME* name) {
  if (name == nullptr) return "";
  const int index = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
  if (index < 0) return "";
  const ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
  unsigned char* utf8 = nullptr;
  const int length = value ? ASN1_STRING_to_UTF8(&utf8, value) : -1;
  if (length < 0) return "";
  // Kept whole, an embedded NUL included, so that it can never compare equal to a host.
  std::string result(reinterpret_cast<const char*>(utf8), static_cast<size_t>(length));
  OPENSSL_free(utf8);
  return result;
}

// An ASN.1 time as the program's local date-time; false when it cannot be read.
bool LocalTime(const ASN1_TIME* t, TDateTime& out) {
  struct tm parts {};
  if (t == nullptr || ASN1_TIME_to_tm(t, &parts) != 1) return false;
  out = FromUnixTime(timegm(&parts));
  return true;
}

int VerifyCallback(int preverifyOk, X509_STORE_CTX* storeCtx) {
  SSL* ssl = static_cast<SSL*>(
      X509_STORE_CTX_get_ex_data(storeCtx, SSL_get_ex_data_X509_STORE_CTX_idx()));
  CertCheckState* state =
      ssl ? static_cast<CertCheckState*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), StateIndex()))
          : nullptr;
  if (state == nullptr || state->owner.domain == nullptr) return 0;
  if (!preverifyOk) state->chainNegative = true;
  // Certificates above the server's own are OpenSSL's business; its verdict is kept and
  // counted when the server's certificate is judged.
  if (X509_STORE_CTX_get_error_depth(storeCtx) != 0) return 1;

  X509* x509 = X509_STORE_CTX_get_current_cert(storeCtx);
  ServerCertificate cert;
  const ServerCertificate* presented = nullptr;
  if (x509 != nullptr) {
    // An unreadable bound cannot be inside any period: it is judged as outside.
    if (!LocalTime(X509_get0_notBefore(x509), cert.notBefore)) cert.notBefore = 1e9;
    if (!LocalTime(X509_get0_notAfter(x509), cert.notAfter)) cert.notAfter = -1e9;
    cert.issuerCn = FirstCommonName(X509_get_issuer_name(x509));
    cert.subjectCn = FirstCommonName(X509_get_subject_name(x509));
    presented = &cert;
  }
  try {
    return JudgeServerCertificate(presented, !state->chainNegative, Now(), *state->owner.domain,
                                  *state->owner.certErrorMessage, *state->owner.befSubjectCn)
               ? 1
               : 0;
  } catch (...) {
    return 0;
  }
}

// A certificate file that cannot be read is named by the user through SSL_CERT_FILE; an
// absent default file is not an error as long as the certificate folder serves.
bool LoadTrustedRoots(SSL_CTX* ctx, std::string& error) {
  SSL_CTX_set_default_verify_paths(ctx);
  ERR_clear_error();
  const char* file = std::getenv(X509_get_default_cert_file_env());
  if (file == nullptr || *file == '\0') return true;
  if (X509_STORE_load_file(SSL_CTX_get_cert_store(ctx), file) != 1) {
    ERR_clear_error();
    error = std::string("error setting certificate file: ") + file;
    return false;
  }
  return true;
}

}  // namespace

CURLcode InstallCertCheck(CURL*, void* sslCtx, void* data) {
  SSL_CTX* ctx = static_cast<SSL_CTX*>(sslCtx);
  CertCheckState* state = static_cast<CertCheckState*>(data);
  if (ctx == nullptr || state == nullptr) return CURLE_SSL_CERTPROBLEM;
  state->chainNegative = false;
  state->setupError.clear();
  if (!LoadTrustedRoots(ctx, state->setupError)) return CURLE_SSL_CACERT_BADFILE;
  SSL_CTX_set_ex_data(ctx, StateIndex(), state);
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, VerifyCallback);
  // A connection keeps the certificate it was judged by: a server's request to negotiate
  // again (where it could show another) is declined.
  SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION);
  return CURLE_OK;
}

}  // namespace qvu
