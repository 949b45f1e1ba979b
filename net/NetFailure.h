// The one table of network failure texts: which failure of a request leads to which text
// for the user, for each of the three requests of the program.
#pragma once

#include <string>

namespace qvu {

// The kinds of failure a request can end in, in the order they are tried.
enum class HttpFailure {
  None,
  Socket,            // refused, reset, name not resolved, nothing received
  TlsConnect,        // handshake failed, a refused certificate among them
  MalformedAddress,  // the address cannot be parsed or names an unknown scheme
  TlsLibrary,        // the TLS set-up failed (an unreadable CA bundle)
  AlreadyConnected,  // kept for the table; the client never produces it
  ReadTimeout,       // connected, then no data for the read time-out
  HttpStatus,        // the server answered with a status >= 400
  Other,             // anything else, the connect time-out among them
};

enum class FailureColumn { VersionList, VersionLog, Download };

// The text of a failure for a request. message is the library's text (M), status the
// status code of the last response, -1 when none (N), fileName the entry being downloaded
// (F, download column only), body the response body as text (the version log's
// protocol-error row only).
std::string FailureText(FailureColumn column, HttpFailure kind, const std::string& message,
                        long status, const std::string& fileName = "",
                        const std::string& body = "");

}  // namespace qvu
