// Test doubles for everything the updater talks to over the network: a certificate
// authority made with the openssl tool, the HTTPS test service (tools/demo_service.py), a
// server that never answers, recording HTTP CONNECT / SOCKS proxies and Debian's own proxies.
//
// Everything listens on 127.0.0.1 only and is started by the object itself; every child
// process is killed and reaped by the destructor (and, should the test process die first,
// by the kernel: children get SIGKILL when their parent dies). Create these objects on the
// test's main thread: the kernel ties that signal to the thread that started the child.
//
// Failures to set up (python3 or openssl missing, a child that does not come up in time)
// throw HarnessError with a message saying what is missing; GoogleTest reports it as the
// test's failure.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/harness/ChildProcess.h"

namespace qvu::testing {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// ---------------------------------------------------------------------------------------
// Certificates

// One validity bound: an offset in seconds from the moment Issue runs, or an absolute UTC
// time. Certificates hold whole seconds.
struct TimeBound {
  static TimeBound FromNow(long long seconds) { return {false, seconds}; }
  static TimeBound AtUtc(std::time_t utc) { return {true, static_cast<long long>(utc)}; }
  std::time_t Resolve(std::time_t now) const {
    return absolute ? static_cast<std::time_t>(value) : now + static_cast<std::time_t>(value);
  }
  bool absolute = false;
  long long value = 0;
};

enum class Issuer {
  Intermediate,  // the authority's intermediate; the certificate file carries it as chain
  Root,          // the authority's root directly
  SelfSigned,    // issuer name = subject name, signed with its own key
  Untrusted,     // a separate authority with the same names as this one but other keys
};

struct Certificate;

// Set the fields one by one: GCC's -Wextra warns on designated initializers that skip any.
struct CertSpec {
  // Subject: subjectExtra in order, then CN when cn is not empty (no CN attribute at all
  // when it is). A subject that would be empty gets "O=Quelta Test" so the certificate stays
  // well-formed. rawSubject, when set, is the whole subject in openssl's "/O=a/CN=b" form
  // (for unusual orders); it replaces cn and subjectExtra.
  std::string cn;
  HeaderList subjectExtra;
  std::string rawSubject;
  Issuer issuer = Issuer::Intermediate;
  TimeBound notBefore = TimeBound::FromNow(-3600);
  TimeBound notAfter = TimeBound::FromNow(30 * 24 * 3600);
  // Entries such as "DNS:localhost" or "IP:127.0.0.1"; empty: no subjectAltName extension.
  std::vector<std::string> san;
  // A certificate authority of its own (it can sign others through signer).
  bool authority = false;
  // Signed by this authority (issued by the same CertificateAuthority) instead of issuer;
  // the chain then continues with the signer's.
  const Certificate* signer = nullptr;
};

struct Certificate {
  std::string certFile;  // PEM: the certificate, then its chain up to (not including) the root
  std::string keyFile;   // PEM: its private key
  std::time_t notBefore = 0;  // the bounds as written into the certificate (UTC)
  std::time_t notAfter = 0;
  std::string subject;  // one-line names, "/C=JP/O=.../CN=..." in certificate order
  std::string issuer;
};

// A root and an intermediate made with the openssl tool in a temporary folder that lives as
// long as the object. Issue is safe to call from several threads.
class CertificateAuthority {
 public:
  // Made once per test process with the default names.
  static CertificateAuthority& Shared();

  explicit CertificateAuthority(std::string rootCn = "Quelta Test Root CA",
                                std::string intermediateCn = "Quelta Test Intermediate CA");
  ~CertificateAuthority();
  CertificateAuthority(const CertificateAuthority&) = delete;
  CertificateAuthority& operator=(const CertificateAuthority&) = delete;

  // The root's PEM: put it in SSL_CERT_FILE so that a client trusts this authority.
  const std::string& RootFile() const { return rootCert_; }
  const std::string& IntermediateFile() const { return intermediateCert_; }
  const std::string& RootCn() const { return rootCn_; }
  const std::string& IntermediateCn() const { return intermediateCn_; }
  const std::string& Folder() const { return folder_.Path(); }

  Certificate Issue(const CertSpec& spec);
  // The common case: CN = cn (and DNS SAN), issued by the intermediate, valid now.
  Certificate Issue(const std::string& cn);

 private:
  std::string rootCn_, intermediateCn_;
  TempFolder folder_;
  std::string rootCert_, rootKey_, intermediateCert_, intermediateKey_;
  std::unique_ptr<CertificateAuthority> untrusted_;  // made on first use
  std::mutex mutex_;
  int serial_ = 0;
};

// ---------------------------------------------------------------------------------------
// The HTTPS test service

struct Route {
  int status = 200;
  std::string body;
  HeaderList headers;  // sent as given; Content-Length is added unless listed here
  int delayBeforeBodyMs = 0;  // status line and headers first, then the pause, then the body
  bool silent = false;              // read the request, then never answer
  bool closeWithoutAnswer = false;  // read the request, then close the connection
  bool gzip = false;                // body sent gzip-compressed with Content-Encoding: gzip
  std::string bodyFile;  // when set, the body is streamed from this file (large bodies)
  // A body made as it goes out: body, then repeatCount times repeatUnit, then tail. A
  // negative count repeats without end and sends no Content-Length.
  std::string repeatUnit;
  long long repeatCount = 0;
  std::string tail;
  int trickleMs = 0;  // the body one byte at a time, this long before each

  static Route Ok(std::string body, HeaderList headers = {});
  static Route Status(int status, std::string body = {});
  // Location may be absolute ("https://127.0.0.1:PORT/...") to send the client elsewhere.
  static Route Redirect(std::string location, int status = 302);
};

struct Request {
  std::string method;
  std::string path;     // percent-decoded as UTF-8, without the query
  std::string rawPath;  // as sent, without the query
  std::string query;    // as sent, after the "?" (empty when none)
  HeaderList headers;   // names as sent, in order
  std::string body;     // the bytes as sent (chunked transfer decoded)
  int connection = 0;   // which TCP connection it came on, numbered from 1

  // Value of the first header of that name, compared without regard to case; "" if absent.
  std::string Header(std::string_view name) const;
  bool HasHeader(std::string_view name) const;
};

// What the service does with a connection after an answer.
enum class ConnectionMode {
  KeepAlive,         // HTTP/1.1 keep-alive
  CloseAfterAnswer,  // says Connection: close, then closes
  DropAfterAnswer,   // closes without saying so
  DropReused,        // a second request on a connection is read, then the connection closes
                     // unanswered: an idle connection closed just as it was taken up again
};

// The TCP connections the service accepted and the TLS handshakes it completed.
struct ConnectionCount {
  int tcp = 0;
  int handshakes = 0;
  int resumed = 0;  // handshakes that resumed an earlier session
};

// tools/demo_service.py on 127.0.0.1 with TLS 1.2 only and the given certificate. Routes are
// matched on method and path (query ignored); unmatched requests get 404, except GET and
// HEAD of "/zeph/files/file/<name>", which serve the files added here. Every request is
// recorded before it is answered, so after the client's call returns it is in Requests().
class TestService {
 public:
  explicit TestService(const Certificate& cert);
  // The first connection presents first, every later one later.
  TestService(const Certificate& first, const Certificate& later);
  ~TestService();
  TestService(const TestService&) = delete;
  TestService& operator=(const TestService&) = delete;

  int Port() const { return port_; }
  // "https://<host>:<port>", for building addresses.
  std::string BaseUrl(const std::string& host = "127.0.0.1") const;

  void SetRoute(const std::string& method, const std::string& path, const Route& route);
  void RemoveRoute(const std::string& method, const std::string& path);

  // A file of the file area; name is the decoded name (subfolders allowed with "/").
  void SetFile(const std::string& name, const std::string& bytes);
  // Served from path without copying (for large files).
  void SetFileFromPath(const std::string& name, const std::string& path);
  void RemoveFile(const std::string& name);

  void SetConnectionMode(ConnectionMode mode);

  std::vector<Request> Requests() const;
  ConnectionCount Connections() const;  // since the last ClearRequests
  void ClearRequests();

 private:
  void WriteRoutes() const;
  std::string FilePath(const std::string& name) const;

  TempFolder folder_;
  std::vector<std::pair<std::pair<std::string, std::string>, Route>> routes_;
  ConnectionMode mode_ = ConnectionMode::KeepAlive;
  std::unique_ptr<ChildProcess> process_;
  int port_ = 0;
  std::uintmax_t logStart_ = 0;
};

// ---------------------------------------------------------------------------------------
// A server that never sends a byte

class SilentServer {
 public:
  // Accepts TCP connections and keeps them open without a byte: the client hangs in the
  // TLS handshake.
  SilentServer();
  // Completes the TLS 1.2 handshake with cert, then stays silent: the client hangs waiting
  // for the answer to its request (the read time-out, not the connect stage).
  explicit SilentServer(const Certificate& cert);
  ~SilentServer();
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;

  int Port() const { return port_; }

 private:
  struct Tcp;
  std::unique_ptr<Tcp> tcp_;
  std::unique_ptr<ChildProcess> process_;
  int port_ = 0;
};

// ---------------------------------------------------------------------------------------
// Proxies

struct Credentials {
  std::string user;
  std::string password;
};

// What a client asked of a recording proxy, one entry per handshake (refused ones too).
struct ProxyHandshake {
  std::string kind;        // as the client spoke: "http", "socks4", "socks4a", "socks5"
  std::string targetHost;  // as the client sent it: a name for 4A / 5 with a name, else an IP
  int targetPort = 0;
  std::string user;        // SOCKS 4 user id, SOCKS 5 user name, or from Proxy-Authorization
  std::string password;    // SOCKS 5 password, or from Proxy-Authorization Basic
  std::string proxyAuthorization;  // the Proxy-Authorization header as sent (HTTP only)
  std::string method;      // HTTP only: the request's method (CONNECT expected)
  bool accepted = false;   // the proxy granted the request and relayed
};

// tests/harness/recording_proxy.py. After the handshake it relays to 127.0.0.1 at the
// requested port whatever host was asked for, so test names need not resolve and nothing
// leaves the machine. With required credentials: HTTP answers 407 without a matching
// Proxy-Authorization Basic; SOCKS 5 accepts only the user name/password method with them;
// SOCKS 4 requires the user id to be the user. Without: anything offered is accepted (SOCKS 5
// prefers "no authentication" but takes user name/password and records them).
// Socks4 and Socks4a are the same server: it takes both forms and records which was sent.
class RecordingProxy {
 public:
  enum class Kind { HttpConnect, Socks4, Socks4a, Socks5 };

  explicit RecordingProxy(Kind kind, std::optional<Credentials> required = std::nullopt);
  ~RecordingProxy();
  RecordingProxy(const RecordingProxy&) = delete;
  RecordingProxy& operator=(const RecordingProxy&) = delete;

  int Port() const { return port_; }
  std::vector<ProxyHandshake> Seen() const;

 private:
  TempFolder folder_;
  std::unique_ptr<ChildProcess> process_;
  int port_ = 0;
};

// A real proxy from Debian on a loopback port, configured in a temporary folder: tinyproxy
// for HTTP CONNECT, microsocks for SOCKS 5. They resolve target names themselves, so ask
// them for 127.0.0.1 or localhost.
class RealProxy {
 public:
  enum class Kind { HttpConnect, Socks5 };

  explicit RealProxy(Kind kind, std::optional<Credentials> required = std::nullopt);
  ~RealProxy();
  RealProxy(const RealProxy&) = delete;
  RealProxy& operator=(const RealProxy&) = delete;

  int Port() const { return port_; }

 private:
  TempFolder folder_;
  std::unique_ptr<ChildProcess> process_;
  int port_ = 0;
};

// ---------------------------------------------------------------------------------------
// Small helpers the tests share

std::string Base64(std::string_view bytes);
// "Basic " + Base64(user + ":" + password).
std::string BasicAuthorization(const std::string& user, const std::string& password);
// Reads a whole file; throws HarnessError when it cannot.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, std::string_view bytes);

}  // namespace qvu::testing
