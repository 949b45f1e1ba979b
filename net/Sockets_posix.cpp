#include "net/Sockets.h"

#include <sys/socket.h>
#include <unistd.h>

namespace qvu {

curl_socket_t OpenSocket(int family, int type, int protocol) {
  return ::socket(family, type, protocol);
}

int CloseSocket(curl_socket_t socket) { return ::close(socket); }

bool SocketConnected(curl_socket_t socket) {
  sockaddr_storage peer{};
  socklen_t len = sizeof peer;
  return ::getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &len) == 0;
}

}  // namespace qvu
