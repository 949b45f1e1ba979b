#include "tests/harness/ChildProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>

namespace qvu::testing {

namespace fs = std::filesystem;

TempFolder::TempFolder(const std::string& prefix) {
  std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr)
    throw HarnessError("cannot create a temporary folder: " + std::string(strerror(errno)));
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

namespace {

bool IsExecutable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

std::string FindOnPath(const std::string& program) {
  if (program.find('/') != std::string::npos) return IsExecutable(program) ? program : "";
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    if (!dir.empty() && IsExecutable(dir + "/" + program)) return dir + "/" + program;
    start = end + 1;
  }
  return "";
}

}  // namespace

std::string RequireProgram(const std::string& program, const std::string& package) {
  std::string found = FindOnPath(program);
  if (found.empty())
    throw HarnessError(program + " is not installed (Debian package " + package +
                       "); the test needs it");
  return found;
}

std::string PythonInterpreter() {
  if (const char* chosen = std::getenv("QVU_PYTHON"); chosen && *chosen)
    return RequireProgram(chosen, "python3");
  // Debian's own interpreter first: the scripts use its standard library only, and a
  // development shim on PATH may point somewhere else.
  if (IsExecutable("/usr/bin/python3")) return "/usr/bin/python3";
  return RequireProgram("python3", "python3");
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, bool captureStdout) {
  if (argv.empty()) throw HarnessError("ChildProcess: no program");
  name_ = argv[0];
  std::string program = FindOnPath(argv[0]);
  if (program.empty()) throw HarnessError(argv[0] + " is not installed or not executable");

  // Everything the child needs is prepared before fork: after it, only async-signal-safe
  // calls are allowed (other test threads may hold locks).
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  int out[2] = {-1, -1};
  if (captureStdout && pipe2(out, O_CLOEXEC) != 0)
    throw HarnessError("pipe: " + std::string(strerror(errno)));
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid < 0) {
    int err = errno;
    if (captureStdout) {
      close(out[0]);
      close(out[1]);
    }
    throw HarnessError("fork: " + std::string(strerror(err)));
  }
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    if (captureStdout) dup2(out[1], STDOUT_FILENO);
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, STDIN_FILENO);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execv(program.c_str(), args.data());
    _exit(127);
  }
  pid_ = pid;
  if (captureStdout) {
    close(out[1]);
    stdoutFd_ = out[0];
  }
}

ChildProcess::~ChildProcess() { Stop(); }

bool ChildProcess::Running() {
  if (pid_ < 0) return false;
  int status = 0;
  pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    pid_ = -1;
    return false;
  }
  return r == 0;
}

std::string ChildProcess::ReadLine(std::chrono::milliseconds timeout) {
  if (stdoutFd_ < 0) throw HarnessError(name_ + ": standard output is not captured");
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (size_t nl = pending_.find('\n'); nl != std::string::npos) {
      std::string line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) throw HarnessError(name_ + " did not report in time");
    pollfd p{stdoutFd_, POLLIN, 0};
    int r = poll(&p, 1, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) continue;
    char buffer[4096];
    ssize_t n = read(stdoutFd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw HarnessError(name_ + " ended before it reported (see its messages above)");
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

void ChildProcess::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    bool gone = false;
    for (int i = 0; i < 100 && !gone; ++i) {
      pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_ || (r < 0 && errno == ECHILD)) gone = true;
      else std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!gone) {
      kill(pid_, SIGKILL);
      while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
    }
    pid_ = -1;
  }
  if (stdoutFd_ >= 0) {
    close(stdoutFd_);
    stdoutFd_ = -1;
  }
}

int RunProgram(const std::vector<std::string>& argv, std::string* output) {
  if (argv.empty()) return -1;
  std::string program = FindOnPath(argv[0]);
  if (program.empty()) {
    if (output) *output = argv[0] + " is not installed";
    return -1;
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return -1;
  pid_t pid = fork();
  if (pid < 0) {
    close(out[0]);
    close(out[1]);
    return -1;
  }
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    dup2(out[1], STDOUT_FILENO);
    dup2(out[1], STDERR_FILENO);
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, STDIN_FILENO);
    execv(program.c_str(), args.data());
    _exit(127);
  }
  close(out[1]);
  std::string collected;
  char buffer[4096];
  for (;;) {
    ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    collected.append(buffer, static_cast<size_t>(n));
  }
  close(out[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (output) *output = std::move(collected);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool WaitForPort(int port, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  do {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

int PickFreePort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw HarnessError("socket: " + std::string(strerror(errno)));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    int err = errno;
    close(fd);
    throw HarnessError("cannot find a free port: " + std::string(strerror(err)));
  }
  close(fd);
  return ntohs(addr.sin_port);
}

}  // namespace qvu::testing
