// The HTTP client both owners use: one per owner, over one libcurl handle, with a cookie
// store that lives in memory for as long as the owner does. The owner runs SetupHttpClient
// before every request.
//
// A client keeps its connection from one request to the next for as long as the server
// keeps it, but only for the same host, port, proxy route and credentials. That does not
// weaken the certificate check: every new connection makes a full TLS handshake (sessions
// are never resumed, so the server always shows its certificate) and meets the check, and
// the certificate of an open connection cannot change (renegotiation is refused).
//
// Whatever the server sends, a request ends and its memory stays bounded: a body kept in
// memory has a size limit, an error page is kept only as far as a failure text shows it, a
// transfer that only trickles ends like one that is silent, and the data module's requests
// have an overall time limit.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <curl/curl.h>

#include "net/CertCheck.h"
#include "net/NetFailure.h"
#include "net/Proxy.h"

namespace qvu {

// How much of an error page (a final status of 300 and above) is kept: enough for a failure
// text to show what the server said. The transfer ends there; the rest is never read.
constexpr size_t kErrorBodyKeep = 8 * 1024;

// The outcome of one request. failure None means a final response with a 2xx status: a 3xx
// that was not followed (no Location, or past the redirect limit) is an HTTP status failure
// like a 4xx.
struct HttpResult {
  HttpFailure failure = HttpFailure::Other;
  std::string message;         // the library's text (M)
  long status = -1;            // status code of the last response, -1 when none came (N)
  std::string body;            // as received, after gzip or deflate decoding; a download's
                               // sink gets it instead when the status is 2xx. For a status
                               // of 300 and above, only its first kErrorBodyKeep bytes
  std::string contentType;     // the response's Content-Type value
  std::string charset;         // its charset parameter, "" when none
  int64_t contentLength = -1;  // Content-Length, -1 when unknown (HEAD requests)
  bool ok() const { return failure == HttpFailure::None; }
};

enum class HttpWork { Read, Write };

class HttpClient {
 public:
  enum class Role {
    Api,       // the data module: user agent "Quelta Version Manager 1.0", no encodings
    Download,  // the main window: "Mozilla/3.0 (compatible; Indy Library)", gzip/deflate
  };
  // Chunks of a GET body; false aborts the transfer as a write failure.
  using Sink = std::function<bool(const char* data, size_t size)>;

  HttpClient(Role role, CertOwnerFields certOwner);
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // Time-outs, applied to every request. Connect: until the TCP connection to the server
  // (or proxy) stands; read: no data in either direction for that long once connected.
  long connectTimeoutMs = 60000;
  long readTimeoutMs = 60000;
  // A transfer whose average rate over the last rateWindowSeconds stays below
  // rateFloorBytesPerSecond ends as a read time-out too: a server that sends a byte now and
  // then is never silent long enough for the read time-out. 1 KiB/s is far below any line a
  // shop could run on (a mobile fallback still manages tens of KiB/s) and far above a
  // trickle of a byte every few seconds.
  long rateFloorBytesPerSecond = 1024;
  long rateWindowSeconds = 60;
  // The whole request, 0 for no limit: the data module's requests are small and must not
  // keep the program from going on, a download may take as long as its size needs.
  long totalTimeoutMs = 0;
  // A body kept in memory (not handed to a sink) that grows past this ends the request as a
  // failure of its own kind ("anything else"), also when the server announces it.
  int64_t maxBodyBytes = 8 << 20;
  // Bytes so far of the transfer under way, per direction (the progress bar).
  std::function<void(HttpWork, int64_t)> onWork;

  // The whole configuration anew: drops whatever the last set-up left (proxy routes
  // included). Basic authorisation is sent with every request, also with empty texts.
  void Setup(const std::string& userName, const std::string& password, const ST_Proxy& proxy);

  HttpResult Head(const std::string& url);
  HttpResult Get(const std::string& url);
  HttpResult Get(const std::string& url, const Sink& sink);
  // A multipart form with one text part: the name, content type
  // text/plain; charset="utf-8", Content-Transfer-Encoding 8bit, no file name.
  HttpResult PostForm(const std::string& url, const std::string& name, const std::string& value);

  // Closes the kept connection; the cookies stay.
  void Disconnect();

 private:
  enum class Method { Head, Get, Post };
  HttpResult Perform(const std::string& url, Method method, const Sink* sink, const void* form);
  static size_t OnWrite(char* data, size_t size, size_t count, void* self);
  static curl_socket_t OnOpenSocket(void* self, curlsocktype purpose, curl_sockaddr* address);
  static int OnCloseSocket(void* self, curl_socket_t socket);
  bool TcpConnected() const;
  static int OnProgress(void* self, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal,
                        curl_off_t ulNow);

  Role role_;
  CURL* curl_ = nullptr;
  std::string route_;          // credentials and proxy route of the kept connection
  CURLSH* cookies_ = nullptr;  // the client's cookie store
  curl_slist* headers_ = nullptr;
  CertCheckState certState_;
  char errorBuffer_[CURL_ERROR_SIZE] = {};

  // State of the request under way.
  const Sink* sink_ = nullptr;
  std::string body_;
  bool readTimedOut_ = false;
  bool connectTimedOut_ = false;
  bool callbackFailed_ = false;
  bool bodyTooLarge_ = false;   // the in-memory body passed maxBodyBytes
  bool errorBodyCut_ = false;   // an error page was cut at kErrorBodyKeep
  int64_t startMs_ = 0, lastActivityMs_ = 0;
  bool connected_ = false;  // TCP stands (curl only counts a connection once TLS does)
  std::vector<curl_socket_t> sockets_;  // opened during this request
  curl_off_t lastDl_ = 0, lastUl_ = 0;
};

// The set-up both owners run before each request (SetupHttp of the data module with its
// salon id, password and _proxy; the main window's with "VERSION"/"ID", "PW" and the six
// GetProxyValue texts).
void SetupHttpClient(HttpClient& http, const std::string& userName, const std::string& password,
                     const ST_Proxy& proxy);

// The address as it goes out: in the path, query and fragment, blanks, control
// characters and every byte outside ASCII are percent-encoded (the text is UTF-8, so
// Japanese file names go out as UTF-8); everything else, "%" included, stays as it is.
std::string EncodeUrl(const std::string& url);

}  // namespace qvu
