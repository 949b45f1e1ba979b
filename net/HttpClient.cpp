#include "net/HttpClient.h"


#include <algorithm>
#include <chrono>

#include "net/Sockets.h"
#include "net/TextDecode.h"
#include "support/Common.h"

namespace qvu {

namespace {

const char kAccept[] = "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
const char kApiAgent[] = "Quelta Version Manager 1.0";
const char kDownloadAgent[] = "Mozilla/3.0 (compatible; Indy Library)";
const char kReadTimeoutText[] = "Read timed out.";
const char kConnectTimeoutText[] = "Connect timed out.";
// The data module's requests: a version list of a few MB takes well under a minute on the
// slowest line a shop could have; five minutes leave room and still let the user go on.
constexpr long kApiTotalTimeoutMs = 5 * 60 * 1000;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

struct CurlGlobal {
  CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
};

HttpFailure Classify(CURLcode rc) {
  switch (rc) {
    case CURLE_OK:
      return HttpFailure::None;
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_INTERFACE_FAILED:
    case CURLE_SEND_FAIL_REWIND:  // a POST whose kept connection turned out closed
      return HttpFailure::Socket;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_USE_SSL_FAILED:
      return HttpFailure::TlsConnect;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return HttpFailure::MalformedAddress;
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
      return HttpFailure::TlsLibrary;
    default:
      return HttpFailure::Other;
  }
}

// The host part of an address, "" when there is none ("https:///path" has none).
bool HasHost(const std::string& url) {
  const size_t scheme = url.find("://");
  if (scheme == std::string::npos) return false;
  const size_t start = scheme + 3;
  return start < url.size() && url.find_first_of("/?#", start) != start;
}

std::string HostForUrl(const std::string& host) {
  return host.find(':') != std::string::npos && host.front() != '[' ? "[" + host + "]" : host;
}

// Everything of a set-up that a connection is made for, besides the host and port (which
// curl matches itself): the credentials and the proxy route with its own.
std::string RouteOf(const std::string& userName, const std::string& password, const ST_Proxy& proxy) {
  const std::string use = UpperAscii(proxy.use);
  std::string route = userName + '\n' + password + '\n';
  if (use == "HTTP" || use == "SOCKS4" || use == "SOCKS4A" || use == "SOCKS5") {
    route += use + '\n' + proxy.server + '\n' + std::to_string(TextToInt(proxy.port) & 0xFFFF);
    if (UpperAscii(proxy.auth) == "Y") route += '\n' + proxy.userName + '\n' + proxy.password;
  }
  return route;
}

// The form's text as curl reads it. There is no way back to its start: curl's own repeat
// of a request whose kept connection turned out closed needs one, so a POST is never sent
// twice (the service may have taken the first) and fails instead.
struct FormText {
  const std::string* text;
  size_t offset = 0;
};

size_t ReadFormText(char* buffer, size_t size, size_t count, void* arg) {
  FormText* form = static_cast<FormText*>(arg);
  const size_t n = std::min(size * count, form->text->size() - form->offset);
  std::copy_n(form->text->data() + form->offset, n, buffer);
  form->offset += n;
  return n;
}

}  // namespace

std::string EncodeUrl(const std::string& url) {
  size_t start = 0;
  size_t scheme = url.find("://");
  if (scheme != std::string::npos) {
    start = url.find_first_of("/?#", scheme + 3);
    if (start == std::string::npos) return url;
  }
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = url.substr(0, start);
  for (size_t i = start; i < url.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(url[i]);
    if (c <= 0x20 || c >= 0x7F) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

HttpClient::HttpClient(Role role, CertOwnerFields certOwner) : role_(role) {
  static CurlGlobal global;
  certState_.owner = certOwner;
  if (role_ == Role::Api) totalTimeoutMs = kApiTotalTimeoutMs;
  curl_ = curl_easy_init();
  // The cookie store lives beside the handle and is started once, not at every set-up.
  cookies_ = curl_share_init();
  if (cookies_) curl_share_setopt(cookies_, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
}

void HttpClient::Disconnect() {
  // curl has no call that closes the connections of a handle and keeps the handle: a new
  // handle it is, and the next set-up configures it.
  if (curl_) curl_easy_cleanup(curl_);
  curl_ = curl_easy_init();
}

HttpClient::~HttpClient() {
  if (curl_) curl_easy_cleanup(curl_);
  if (cookies_) curl_share_cleanup(cookies_);
  curl_slist_free_all(headers_);
}

void HttpClient::Setup(const std::string& userName, const std::string& password,
                       const ST_Proxy& proxy) {
  // Other credentials or another proxy route: the kept connection is not theirs.
  const std::string route = RouteOf(userName, password, proxy);
  if (route != route_) {
    Disconnect();
    route_ = route;
  }
  if (!curl_) return;
  // Every option goes back to its default, the proxy route among them; the cookies stay in
  // their store. The reset forgets the list of cookie files without freeing it, so the list
  // is emptied first (which leaves the cookies of a store alone).
  curl_easy_setopt(curl_, CURLOPT_COOKIEFILE, nullptr);
  curl_easy_reset(curl_);
  curl_slist_free_all(headers_);
  headers_ = curl_slist_append(nullptr, kAccept);

  curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, errorBuffer_);
  // The store, and "" as the list of cookie files: that starts curl's cookie handling
  // without reading any file.
  if (cookies_) curl_easy_setopt(curl_, CURLOPT_SHARE, cookies_);
  curl_easy_setopt(curl_, CURLOPT_COOKIEFILE, "");
  curl_easy_setopt(curl_, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl_, CURLOPT_MAXREDIRS, 15L);
  curl_easy_setopt(curl_, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(curl_, CURLOPT_REDIR_PROTOCOLS_STR, "https");
  // One connection kept, never a resumed session: every new connection meets the check.
  curl_easy_setopt(curl_, CURLOPT_MAXCONNECTS, 1L);
  curl_easy_setopt(curl_, CURLOPT_SSL_SESSIONID_CACHE, 0L);

  curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers_);
  curl_easy_setopt(curl_, CURLOPT_USERAGENT, role_ == Role::Api ? kApiAgent : kDownloadAgent);
  if (role_ == Role::Download) curl_easy_setopt(curl_, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
  // Basic only, so it goes with the first request; curl keeps it from other hosts.
  curl_easy_setopt(curl_, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
  curl_easy_setopt(curl_, CURLOPT_USERNAME, userName.c_str());
  curl_easy_setopt(curl_, CURLOPT_PASSWORD, password.c_str());

  // The decision about the certificate is ours alone: curl's checks stay off and the
  // context hook installs the program's verify callback.
  curl_easy_setopt(curl_, CURLOPT_SSLVERSION,
                   static_cast<long>(CURL_SSLVERSION_TLSv1_2) | static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_2));
  curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(curl_, CURLOPT_SSL_CTX_FUNCTION, &InstallCertCheck);
  curl_easy_setopt(curl_, CURLOPT_SSL_CTX_DATA, &certState_);

  // "" also keeps curl from taking a proxy from the environment.
  curl_easy_setopt(curl_, CURLOPT_PROXY, "");
  const std::string use = UpperAscii(proxy.use);
  const bool auth = UpperAscii(proxy.auth) == "Y";
  // A port keeps its low 16 bits, as the proxy port fields have always held it.
  const std::string port = std::to_string(TextToInt(proxy.port) & 0xFFFF);
  std::string scheme;
  if (use == "HTTP" && !proxy.server.empty()) scheme = "http";
  else if (use == "SOCKS4") scheme = "socks4";
  else if (use == "SOCKS4A") scheme = "socks4a";
  else if (use == "SOCKS5") scheme = "socks5h";
  if (!scheme.empty()) {
    const std::string address = scheme + "://" + HostForUrl(proxy.server) + ":" + port;
    curl_easy_setopt(curl_, CURLOPT_PROXY, address.c_str());
    if (scheme == "http") {
      curl_easy_setopt(curl_, CURLOPT_HTTPPROXYTUNNEL, 1L);
      curl_easy_setopt(curl_, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
    } else if (scheme == "socks5h") {
      curl_easy_setopt(curl_, CURLOPT_SOCKS5_AUTH,
                       static_cast<long>(auth ? CURLAUTH_BASIC : CURLAUTH_NONE));
    }
    // SOCKS 4 and 4A carry the user name as their user id; SOCKS 5 uses both.
    if (auth) {
      curl_easy_setopt(curl_, CURLOPT_PROXYUSERNAME, proxy.userName.c_str());
      curl_easy_setopt(curl_, CURLOPT_PROXYPASSWORD, proxy.password.c_str());
    }
  }
}

void SetupHttpClient(HttpClient& http, const std::string& userName, const std::string& password,
                     const ST_Proxy& proxy) {
  http.Setup(userName, password, proxy);
}

size_t HttpClient::OnWrite(char* data, size_t size, size_t count, void* p) {
  HttpClient* self = static_cast<HttpClient*>(p);
  const size_t n = size * count;
  try {
    long code = 0;
    curl_easy_getinfo(self->curl_, CURLINFO_RESPONSE_CODE, &code);
    // An error page (or a redirect that was not followed) never reaches the caller's file,
    // and only its beginning is worth keeping: a failure text shows no more.
    if (code >= 300) {
      const size_t room = kErrorBodyKeep - std::min(self->body_.size(), kErrorBodyKeep);
      self->body_.append(data, std::min(n, room));
      if (n <= room) return n;
      self->errorBodyCut_ = true;
      return 0;
    }
    if (self->sink_ != nullptr) return (*self->sink_)(data, n) ? n : 0;
    curl_off_t announced = -1;
    curl_easy_getinfo(self->curl_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    if (announced > self->maxBodyBytes ||
        static_cast<int64_t>(self->body_.size() + n) > self->maxBodyBytes) {
      self->bodyTooLarge_ = true;
      return 0;
    }
    self->body_.append(data, n);
    return n;
  } catch (...) {
    self->callbackFailed_ = true;
    return 0;
  }
}

curl_socket_t HttpClient::OnOpenSocket(void* p, curlsocktype, curl_sockaddr* address) {
  HttpClient* self = static_cast<HttpClient*>(p);
  const curl_socket_t fd = OpenSocket(address->family, address->socktype, address->protocol);
  if (fd != CURL_SOCKET_BAD) self->sockets_.push_back(fd);
  return fd;
}

int HttpClient::OnCloseSocket(void* p, curl_socket_t fd) {
  HttpClient* self = static_cast<HttpClient*>(p);
  self->sockets_.erase(std::remove(self->sockets_.begin(), self->sockets_.end(), fd),
                       self->sockets_.end());
  return CloseSocket(fd);
}

bool HttpClient::TcpConnected() const {
  for (curl_socket_t fd : sockets_)
    if (SocketConnected(fd)) return true;
  return false;
}

int HttpClient::OnProgress(void* p, curl_off_t, curl_off_t dlNow, curl_off_t, curl_off_t ulNow) {
  HttpClient* self = static_cast<HttpClient*>(p);
  const int64_t now = NowMs();
  if (!self->connected_) {
    // A kept connection stands already: the request goes out at once.
    curl_off_t sent = 0;
    curl_easy_getinfo(self->curl_, CURLINFO_PRETRANSFER_TIME_T, &sent);
    if (sent > 0 || self->TcpConnected()) {
      self->connected_ = true;
      self->lastActivityMs_ = now;
    } else if (now - self->startMs_ > self->connectTimeoutMs) {
      self->connectTimedOut_ = true;
      return 1;
    }
  }
  if (dlNow != self->lastDl_ || ulNow != self->lastUl_) self->lastActivityMs_ = now;
  try {
    if (self->onWork) {
      if (ulNow != self->lastUl_) self->onWork(HttpWork::Write, ulNow);
      if (dlNow != self->lastDl_) self->onWork(HttpWork::Read, dlNow);
    }
  } catch (...) {
    self->callbackFailed_ = true;
    return 1;
  }
  self->lastDl_ = dlNow;
  self->lastUl_ = ulNow;
  if (self->connected_ && now - self->lastActivityMs_ > self->readTimeoutMs) {
    self->readTimedOut_ = true;
    return 1;
  }
  return 0;
}

HttpResult HttpClient::Perform(const std::string& url, Method method, const Sink* sink,
                               const void* form) {
  HttpResult result;
  if (!curl_) {
    result.message = "out of memory";
    return result;
  }
  if (!HasHost(url)) {
    result.failure = HttpFailure::MalformedAddress;
    result.message = "No host part in the URL";
    return result;
  }
  const std::string encoded = EncodeUrl(url);
  curl_easy_setopt(curl_, CURLOPT_URL, encoded.c_str());
  // Setting a form makes the request a POST; HTTPGET makes it a GET again.
  if (method == Method::Post) {
    curl_easy_setopt(curl_, CURLOPT_MIMEPOST, form);
  } else {
    curl_easy_setopt(curl_, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl_, CURLOPT_NOBODY, method == Method::Head ? 1L : 0L);
  }
  curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &HttpClient::OnWrite);
  curl_easy_setopt(curl_, CURLOPT_WRITEDATA, this);
  // Large reads: a download of a big file is then a few thousand write calls, not tens of
  // thousands, and the progress callback runs as often.
  curl_easy_setopt(curl_, CURLOPT_BUFFERSIZE, 512L * 1024);
  curl_easy_setopt(curl_, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl_, CURLOPT_XFERINFOFUNCTION, &HttpClient::OnProgress);
  curl_easy_setopt(curl_, CURLOPT_XFERINFODATA, this);
  curl_easy_setopt(curl_, CURLOPT_OPENSOCKETFUNCTION, &HttpClient::OnOpenSocket);
  curl_easy_setopt(curl_, CURLOPT_OPENSOCKETDATA, this);
  curl_easy_setopt(curl_, CURLOPT_CLOSESOCKETFUNCTION, &HttpClient::OnCloseSocket);
  curl_easy_setopt(curl_, CURLOPT_CLOSESOCKETDATA, this);
  // Both time-outs are watched in OnProgress; curl's own limit is only a backstop.
  curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT_MS, connectTimeoutMs + readTimeoutMs);
  // curl measures the rate and ends a transfer that stays below the floor for the window.
  curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_LIMIT, rateFloorBytesPerSecond);
  curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_TIME, rateWindowSeconds);
  curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, totalTimeoutMs);

  sink_ = sink;
  body_.clear();
  readTimedOut_ = connectTimedOut_ = callbackFailed_ = connected_ = false;
  bodyTooLarge_ = errorBodyCut_ = false;
  startMs_ = lastActivityMs_ = NowMs();
  lastDl_ = lastUl_ = 0;
  errorBuffer_[0] = '\0';
  certState_.setupError.clear();

  // Only sockets opened by this request count; a number curl closed quietly may belong to
  // someone else by now.
  sockets_.clear();
  // A kept connection that the server closed just as it was taken up again gives nothing
  // back: curl then sends a HEAD or GET once more on a new connection, by itself, and never
  // a POST (see PostForm).
  const CURLcode rc = curl_easy_perform(curl_);
  sockets_.clear();
  sink_ = nullptr;

  long code = 0;
  curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &code);
  result.status = code > 0 ? code : -1;
  const char* type = nullptr;
  if (curl_easy_getinfo(curl_, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type)
    result.contentType = type;
  result.charset = CharsetOf(result.contentType);
  curl_off_t length = -1;
  if (curl_easy_getinfo(curl_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK)
    result.contentLength = length;
  result.body = std::move(body_);
  body_.clear();

  result.failure = Classify(rc);
  result.message = errorBuffer_[0] ? errorBuffer_ : curl_easy_strerror(rc);
  if (readTimedOut_) {
    result.failure = HttpFailure::ReadTimeout;
    result.message = kReadTimeoutText;
  } else if (connectTimedOut_) {
    result.failure = HttpFailure::Other;
    result.message = kConnectTimeoutText;
  } else if (rc == CURLE_OPERATION_TIMEDOUT && connected_) {
    // Silence, a trickle below the rate floor, or the whole request past its limit.
    result.failure = HttpFailure::ReadTimeout;
    result.message = kReadTimeoutText;
  } else if (bodyTooLarge_) {
    result.failure = HttpFailure::Other;
    result.message = "Response body larger than " + std::to_string(maxBodyBytes) + " bytes";
  } else if (errorBodyCut_ || rc == CURLE_TOO_MANY_REDIRECTS) {
    result.failure = HttpFailure::None;  // judged by its status below
  } else if (!certState_.setupError.empty() && result.failure == HttpFailure::TlsLibrary) {
    result.message = certState_.setupError;
  }
  // Only a 2xx answer is the resource: a 3xx left standing is no more the body than a 404.
  if (result.failure == HttpFailure::None && result.status >= 300) {
    result.failure = HttpFailure::HttpStatus;
    result.message = "HTTP status " + std::to_string(result.status);
  }
  // A proxy that refused the tunnel answered with a status of its own.
  long connectCode = 0;
  curl_easy_getinfo(curl_, CURLINFO_HTTP_CONNECTCODE, &connectCode);
  if (result.status == -1 && connectCode >= 400) {
    result.status = connectCode;
    result.failure = HttpFailure::HttpStatus;
  }
  return result;
}

HttpResult HttpClient::Head(const std::string& url) {
  return Perform(url, Method::Head, nullptr, nullptr);
}

HttpResult HttpClient::Get(const std::string& url) {
  return Perform(url, Method::Get, nullptr, nullptr);
}

HttpResult HttpClient::Get(const std::string& url, const Sink& sink) {
  return Perform(url, Method::Get, &sink, nullptr);
}

HttpResult HttpClient::PostForm(const std::string& url, const std::string& name,
                                const std::string& value) {
  HttpResult result;
  curl_mime* form = curl_ ? curl_mime_init(curl_) : nullptr;
  curl_mimepart* part = form ? curl_mime_addpart(form) : nullptr;
  FormText text{&value};
  if (part == nullptr || curl_mime_name(part, name.c_str()) != CURLE_OK ||
      curl_mime_data_cb(part, static_cast<curl_off_t>(value.size()), &ReadFormText, nullptr, nullptr,
                        &text) != CURLE_OK ||
      curl_mime_type(part, "text/plain; charset=\"utf-8\"") != CURLE_OK ||
      curl_mime_encoder(part, "8bit") != CURLE_OK) {
    curl_mime_free(form);
    result.message = "out of memory";
    return result;
  }
  result = Perform(url, Method::Post, nullptr, form);
  curl_mime_free(form);  // detaches itself from the handle
  return result;
}

}  // namespace qvu
