#include "ui/DisplayProbe.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace qvu {
namespace {

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// A Wayland display is a socket in the runtime folder unless it is named by a full path.
bool WaylandAnswers(const std::string& display) {
  std::string path = display;
  if (path.front() != '/') {
    const std::string runtime = Variable("XDG_RUNTIME_DIR");
    if (runtime.empty()) return false;
    path = runtime + "/" + display;
  }
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool answered = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return answered;
}

// The whole handshake, authorisation included, as the toolkit's own connection makes it.
bool XAnswers(const std::string& display) {
  xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
  const bool answered = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return answered;
}

}  // namespace

DisplayProbe ProbeDisplay() {
  const std::string wayland = Variable("WAYLAND_DISPLAY");
  const std::string x = Variable("DISPLAY");
  DisplayProbe probe;
  if (wayland.empty() && x.empty()) return probe;
  if ((!wayland.empty() && WaylandAnswers(wayland)) || (!x.empty() && XAnswers(x))) {
    probe.state = DisplayProbe::State::kReachable;
  } else {
    probe.state = DisplayProbe::State::kUnreachable;
  }
  probe.name = x.empty() ? wayland : x;
  return probe;
}

}  // namespace qvu
