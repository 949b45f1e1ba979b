#include <ctime>
#include <filesystem>
#include <fstream>

#include "tests/harness/Harness.h"

namespace qvu::testing {

namespace {

std::string OpenSsl() { return RequireProgram("openssl", "openssl"); }

void Run(const std::vector<std::string>& argv, const std::string& what) {
  std::string output;
  if (RunProgram(argv, &output) != 0)
    throw HarnessError("openssl failed to " + what + ":\n" + output);
}

std::string Capture(const std::vector<std::string>& argv, const std::string& what) {
  std::string output;
  if (RunProgram(argv, &output) != 0)
    throw HarnessError("openssl failed to " + what + ":\n" + output);
  return output;
}

// openssl's -subj syntax: "/" separates attributes, so a "/" or "\" inside a value is escaped.
std::string SubjectPart(const std::string& name, const std::string& value) {
  std::string part = "/" + name + "=";
  for (char c : value) {
    if (c == '/' || c == '\\' || c == '+') part += '\\';
    part += c;
  }
  return part;
}

std::string SubjectOf(const CertSpec& spec) {
  if (!spec.rawSubject.empty()) return spec.rawSubject;
  std::string subject;
  for (const auto& [name, value] : spec.subjectExtra) subject += SubjectPart(name, value);
  if (!spec.cn.empty()) subject += SubjectPart("CN", spec.cn);
  if (subject.empty()) subject = "/O=Quelta Test";
  return subject;
}

// ASN.1 GeneralizedTime text; openssl ca stores UTCTime for years before 2050 by itself.
std::string AsnTime(std::time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d%H%M%SZ", &tm);
  return text;
}

std::string OneLine(const std::string& output, const std::string& key) {
  size_t at = output.find(key + "=");
  if (at == std::string::npos) return "";
  size_t start = at + key.size() + 1;
  size_t end = output.find('\n', start);
  std::string value = output.substr(start, end == std::string::npos ? std::string::npos : end - start);
  while (!value.empty() && (value.front() == ' ')) value.erase(0, 1);
  return value;
}

void NewKey(const std::string& keyFile) {
  // EC keys take milliseconds to make; RSA keys would dominate the tests' set-up time.
  Run({OpenSsl(), "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:prime256v1",
       "-out", keyFile},
      "make a key");
}

}  // namespace

CertificateAuthority& CertificateAuthority::Shared() {
  static CertificateAuthority shared;
  return shared;
}

CertificateAuthority::CertificateAuthority(std::string rootCn, std::string intermediateCn)
    : rootCn_(std::move(rootCn)), intermediateCn_(std::move(intermediateCn)), folder_("qvu-ca") {
  const std::string openssl = OpenSsl();
  rootKey_ = folder_ / "root.key";
  rootCert_ = folder_ / "root.pem";
  intermediateKey_ = folder_ / "intermediate.key";
  intermediateCert_ = folder_ / "intermediate.pem";

  WriteFileBytes(folder_ / "ca.ext",
                 "[ca]\n"
                 "basicConstraints = critical, CA:TRUE\n"
                 "keyUsage = critical, keyCertSign, cRLSign, digitalSignature\n"
                 "subjectKeyIdentifier = hash\n"
                 "authorityKeyIdentifier = keyid:always\n");
  NewKey(rootKey_);
  Run({openssl, "req", "-x509", "-new", "-utf8", "-key", rootKey_, "-out", rootCert_, "-subj",
       SubjectPart("O", "Quelta Test") + SubjectPart("CN", rootCn_), "-days", "3650",
       "-set_serial", "1", "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
       "keyUsage=critical,keyCertSign,cRLSign,digitalSignature"},
      "make the root certificate");

  NewKey(intermediateKey_);
  Run({openssl, "req", "-new", "-utf8", "-key", intermediateKey_, "-out",
       folder_ / "intermediate.csr", "-subj",
       SubjectPart("O", "Quelta Test") + SubjectPart("CN", intermediateCn_)},
      "make the intermediate's request");
  Run({openssl, "x509", "-req", "-in", folder_ / "intermediate.csr", "-CA", rootCert_,
       "-CAkey", rootKey_, "-set_serial", "2", "-days", "3650", "-extfile", folder_ / "ca.ext",
       "-extensions", "ca", "-out", intermediateCert_},
      "make the intermediate certificate");

  std::filesystem::create_directories(folder_ / "issued");
  WriteFileBytes(folder_ / "index.txt", "");
  WriteFileBytes(folder_ / "ca.cnf",
                 "[ca]\n"
                 "default_ca = issuing\n"
                 "[issuing]\n"
                 "database = " + (folder_ / "index.txt") + "\n"
                 "new_certs_dir = " + (folder_ / "issued") + "\n"
                 "rand_serial = yes\n"
                 "default_md = sha256\n"
                 "policy = anything\n"
                 "unique_subject = no\n"
                 "copy_extensions = none\n"
                 "[anything]\n"
                 "commonName = optional\n");
}

CertificateAuthority::~CertificateAuthority() = default;

Certificate CertificateAuthority::Issue(const std::string& cn) {
  CertSpec spec;
  spec.cn = cn;
  if (!cn.empty()) {
    bool ip = cn.find_first_not_of("0123456789.") == std::string::npos;
    spec.san.push_back((ip ? "IP:" : "DNS:") + cn);
  }
  return Issue(spec);
}

Certificate CertificateAuthority::Issue(const CertSpec& spec) {
  if (spec.issuer == Issuer::Untrusted) {
    std::unique_lock lock(mutex_);
    if (!untrusted_) untrusted_ = std::make_unique<CertificateAuthority>(rootCn_, intermediateCn_);
    lock.unlock();
    CertSpec other = spec;
    other.issuer = Issuer::Intermediate;
    return untrusted_->Issue(other);
  }

  std::lock_guard lock(mutex_);
  const std::string openssl = OpenSsl();
  const std::string base = folder_ / ("leaf" + std::to_string(++serial_));
  Certificate cert;
  cert.keyFile = base + ".key";
  cert.certFile = base + ".pem";
  const std::time_t now = std::time(nullptr);
  cert.notBefore = spec.notBefore.Resolve(now);
  cert.notAfter = spec.notAfter.Resolve(now);

  std::string ext = spec.authority ? "[leaf]\n"
                                     "basicConstraints = critical, CA:TRUE\n"
                                     "keyUsage = critical, keyCertSign, cRLSign, digitalSignature\n"
                                   : "[leaf]\n"
                                     "basicConstraints = CA:FALSE\n"
                                     "keyUsage = critical, digitalSignature, keyEncipherment\n"
                                     "extendedKeyUsage = serverAuth\n";
  if (!spec.san.empty()) {
    ext += "subjectAltName = ";
    for (size_t i = 0; i < spec.san.size(); ++i) ext += (i ? "," : "") + spec.san[i];
    ext += "\n";
  }
  WriteFileBytes(base + ".ext", ext);

  NewKey(cert.keyFile);
  Run({openssl, "req", "-new", "-utf8", "-key", cert.keyFile, "-out", base + ".csr", "-subj",
       SubjectOf(spec)},
      "make a certificate request");

  std::vector<std::string> sign = {openssl, "ca", "-batch", "-notext", "-utf8", "-preserveDN",
                                   "-config", folder_ / "ca.cnf", "-in", base + ".csr", "-out",
                                   base + ".leaf.pem", "-startdate", AsnTime(cert.notBefore),
                                   "-enddate", AsnTime(cert.notAfter), "-extfile", base + ".ext",
                                   "-extensions", "leaf"};
  if (spec.signer != nullptr) {
    sign.insert(sign.end(), {"-cert", spec.signer->certFile, "-keyfile", spec.signer->keyFile});
  } else if (spec.issuer == Issuer::SelfSigned) {
    sign.insert(sign.end(), {"-selfsign", "-keyfile", cert.keyFile});
  } else if (spec.issuer == Issuer::Root) {
    sign.insert(sign.end(), {"-cert", rootCert_, "-keyfile", rootKey_});
  } else {
    sign.insert(sign.end(), {"-cert", intermediateCert_, "-keyfile", intermediateKey_});
  }
  Run(sign, "issue a certificate");

  std::string pem = ReadFileBytes(base + ".leaf.pem");
  if (spec.signer != nullptr)
    pem += ReadFileBytes(spec.signer->certFile);
  else if (spec.issuer == Issuer::Intermediate)
    pem += ReadFileBytes(intermediateCert_);
  WriteFileBytes(cert.certFile, pem);

  std::string names = Capture({openssl, "x509", "-in", base + ".leaf.pem", "-noout", "-subject",
                               "-issuer", "-nameopt", "compat"},
                              "read a certificate's names");
  cert.subject = OneLine(names, "subject");
  cert.issuer = OneLine(names, "issuer");
  return cert;
}

}  // namespace qvu::testing
