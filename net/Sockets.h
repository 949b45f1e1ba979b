// The few socket calls the HTTP client makes itself: it opens and closes curl's sockets so
// that it can tell a refused connection from a silent peer.
#pragma once

#include <curl/curl.h>

namespace qvu {

curl_socket_t OpenSocket(int family, int type, int protocol);
int CloseSocket(curl_socket_t socket);
// Whether the socket has a peer: its TCP connection is established.
bool SocketConnected(curl_socket_t socket);

}  // namespace qvu
