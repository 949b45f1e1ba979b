// A TCP relay on loopback that holds every chunk back by a fixed delay in each direction,
// keeping their order: a link with a round trip of twice the delay, for the benchmarks. No
// queueing discipline of the kernel is needed (nor available in a test namespace).
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace qvu::bench {

class DelayRelay {
 public:
  // Relays connections to 127.0.0.1:targetPort, each chunk delayed by oneWay.
  DelayRelay(int targetPort, std::chrono::milliseconds oneWay);
  ~DelayRelay();
  DelayRelay(const DelayRelay&) = delete;
  DelayRelay& operator=(const DelayRelay&) = delete;

  int Port() const { return port_; }
  // Connections accepted so far.
  int Connections() const { return connections_; }

 private:
  void Accept();
  void Relay(int client);

  int targetPort_;
  std::chrono::milliseconds delay_;
  int listenFd_ = -1;
  int stopPipe_[2] = {-1, -1};
  int port_ = 0;
  std::atomic<int> connections_{0};
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  std::mutex mutex_;
  std::vector<std::thread> relays_;
};

}  // namespace qvu::bench
