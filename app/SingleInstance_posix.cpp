#include "app/SingleInstance.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

namespace qvu {

SingleInstance::SingleInstance(const std::string& name) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  // Abstract names start with a zero byte and are exactly as long as the address length
  // says: no terminating zero and no padding, so "QueltaVersionUp" is 15 bytes after it.
  if (name.size() + 1 > sizeof addr.sun_path) return;
  std::memcpy(addr.sun_path + 1, name.data(), name.size());
  socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  // Any failure counts as "another copy runs", as the original check did for every error.
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
    close(fd);
    return;
  }
  handle_ = fd;
}

SingleInstance::~SingleInstance() { Release(); }

void SingleInstance::Release() {
  if (handle_ != kNone) close(static_cast<int>(handle_));
  handle_ = kNone;
}

}  // namespace qvu
