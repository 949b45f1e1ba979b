#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "tests/harness/Harness.h"

namespace qvu::testing {

// The plain TCP variant needs no TLS and no child: a thread that accepts and holds.
struct SilentServer::Tcp {
  int listenFd = -1;
  int stopPipe[2] = {-1, -1};
  std::thread thread;

  ~Tcp() {
    if (stopPipe[1] >= 0) {
      char byte = 0;
      [[maybe_unused]] ssize_t ignored = write(stopPipe[1], &byte, 1);
    }
    if (thread.joinable()) thread.join();
    for (int fd : {listenFd, stopPipe[0], stopPipe[1]})
      if (fd >= 0) close(fd);
  }

  void Run() {
    std::vector<int> held;
    for (;;) {
      pollfd fds[2] = {{stopPipe[0], POLLIN, 0}, {listenFd, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (fds[0].revents) break;
      if (fds[1].revents & POLLIN) {
        int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) held.push_back(fd);
      }
    }
    for (int fd : held) close(fd);
  }
};

SilentServer::SilentServer() : tcp_(std::make_unique<Tcp>()) {
  if (pipe2(tcp_->stopPipe, O_CLOEXEC) != 0)
    throw HarnessError("pipe: " + std::string(strerror(errno)));
  tcp_->listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (tcp_->listenFd < 0 ||
      bind(tcp_->listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(tcp_->listenFd, 64) != 0 ||
      getsockname(tcp_->listenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    throw HarnessError("silent server: " + std::string(strerror(errno)));
  port_ = ntohs(addr.sin_port);
  tcp_->thread = std::thread([tcp = tcp_.get()] { tcp->Run(); });
}

SilentServer::SilentServer(const Certificate& cert) {
  process_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{PythonInterpreter(), std::string(QVU_SOURCE_DIR) + "/tools/demo_service.py",
                               "--cert", cert.certFile, "--key", cert.keyFile, "--port", "0",
                               "--silent"},
      true);
  std::string line = process_->ReadLine(std::chrono::seconds(20));
  port_ = std::atoi(line.c_str());
  if (port_ <= 0) throw HarnessError("the silent TLS server reported no port: " + line);
}

SilentServer::~SilentServer() = default;

}  // namespace qvu::testing
