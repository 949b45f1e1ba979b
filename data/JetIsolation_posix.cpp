#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "data/JetErrors.h"
#include "data/JetIsolation.h"

namespace qvu {
namespace {

void WriteAll(int fd, const std::string& data) {
  for (size_t done = 0; done < data.size();) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace

// The child cannot harm this process: its output is discarded, it holds none of our
// descriptors but the pipe, and it is killed when it overruns or we die.
std::optional<std::string> RunIsolated(const std::function<std::string()>& work,
                                       std::chrono::milliseconds timeout) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw EJetError(std::string("pipe: ") + std::strerror(errno));
  pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid < 0) {
    int err = errno;
    ::close(fds[0]);
    ::close(fds[1]);
    throw EJetError(std::string("fork: ") + std::strerror(err));
  }
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(1);
    // mdbtools talks on stdout and stderr about damaged files; none of it is ours to show.
    int devnull = ::open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      ::dup2(devnull, 1);
      ::dup2(devnull, 2);
    }
    int out = fds[1];
    if (out > 3) ::close_range(3, out - 1, 0);
    ::close_range(out + 1, ~0U, 0);
    std::string data;
    try {
      data = work();
    } catch (...) {
      data.clear();
    }
    WriteAll(out, data);
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string data;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  bool overran = false;
  char buf[65536];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      overran = true;
      break;
    }
    pollfd p{fds[0], POLLIN, 0};
    int ready = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(left.count(), 1000)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) break;
    if (ready == 0) continue;
    ssize_t n = ::read(fds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    data.append(buf, static_cast<size_t>(n));
  }
  ::close(fds[0]);
  if (overran) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (overran || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || data.empty()) return std::nullopt;
  return data;
}

}  // namespace qvu
