#include "bench/many_files/DelayRelay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <string>

namespace qvu::bench {
namespace {

using Clock = std::chrono::steady_clock;

struct Chunk {
  Clock::time_point due;
  std::string data;
};

bool SendAll(int fd, const std::string& data) {
  for (size_t done = 0; done < data.size();) {
    ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// One direction: what arrives on from goes out on to once it is delay old; the end of from
// becomes the end of to once everything before it went out.
void Pump(int from, int to, std::chrono::milliseconds delay, const std::atomic<bool>& stopping) {
  std::deque<Chunk> queue;
  bool open = true;
  char buf[65536];
  while ((open || !queue.empty()) && !stopping) {
    int wait = -1;
    if (!queue.empty()) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(queue.front().due - Clock::now()).count();
      wait = left < 0 ? 0 : static_cast<int>(left);
    }
    if (!open) {
      if (wait > 0) std::this_thread::sleep_for(std::chrono::milliseconds(wait));
    } else {
      pollfd p{from, POLLIN, 0};
      // Wake now and then, so that a stop request is seen.
      int r = poll(&p, 1, wait < 0 || wait > 200 ? 200 : wait);
      if (r < 0 && errno != EINTR) break;
      if (r > 0) {
        ssize_t n = recv(from, buf, sizeof buf, 0);
        if (n > 0) {
          queue.push_back({Clock::now() + delay, std::string(buf, static_cast<size_t>(n))});
        } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
          open = false;
        }
      }
    }
    while (!queue.empty() && queue.front().due <= Clock::now()) {
      if (!SendAll(to, queue.front().data)) return;
      queue.pop_front();
    }
  }
  shutdown(to, SHUT_WR);
}

int Loopback(int port, bool listening) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  const int on = 1;
  if (listening) {
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 128) != 0) {
      close(fd);
      return -1;
    }
  } else if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  // The relay must add its delay and nothing else.
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

}  // namespace

DelayRelay::DelayRelay(int targetPort, std::chrono::milliseconds oneWay)
    : targetPort_(targetPort), delay_(oneWay) {
  listenFd_ = Loopback(0, true);
  if (listenFd_ < 0 || pipe2(stopPipe_, O_CLOEXEC) != 0)
    throw std::runtime_error(std::string("relay: ") + std::strerror(errno));
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  acceptor_ = std::thread([this] { Accept(); });
}

DelayRelay::~DelayRelay() {
  stopping_ = true;
  char byte = 0;
  [[maybe_unused]] ssize_t ignored = write(stopPipe_[1], &byte, 1);
  acceptor_.join();
  for (std::thread& t : relays_) t.join();
  for (int fd : {listenFd_, stopPipe_[0], stopPipe_[1]})
    if (fd >= 0) close(fd);
}

void DelayRelay::Accept() {
  for (;;) {
    pollfd p[2] = {{stopPipe_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}};
    if (poll(p, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (p[0].revents) return;
    int client = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    const int on = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ++connections_;
    std::lock_guard lock(mutex_);
    relays_.emplace_back([this, client] { Relay(client); });
  }
}

void DelayRelay::Relay(int client) {
  // The kernel completed the client's TCP handshake at once; on the link it takes a round
  // trip before the client's first bytes can leave, so the relay begins to read only then.
  std::this_thread::sleep_for(2 * delay_);
  int server = Loopback(targetPort_, false);
  if (server < 0) {
    close(client);
    return;
  }
  std::thread back([&] { Pump(server, client, delay_, stopping_); });
  Pump(client, server, delay_, stopping_);
  back.join();
  close(client);
  close(server);
}

}  // namespace qvu::bench
