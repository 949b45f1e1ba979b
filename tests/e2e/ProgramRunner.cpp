#include "tests/e2e/ProgramRunner.h"

#include "support/Filesystem.h"
#include "tests/harness/Harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <stdexcept>

extern char** environ;

namespace qvu::testing {
namespace fs = std::filesystem;

namespace {

std::vector<char*> Environment(const std::vector<std::string>& extra, std::vector<std::string>& store) {
  auto overridden = [&extra](const std::string& v) {
    for (const auto& e : extra)
      if (v.compare(0, e.find('=') + 1, e, 0, e.find('=') + 1) == 0) return true;
    return false;
  };
  for (char** e = environ; *e; ++e) {
    std::string v = *e;
    // The terminal front end: no display, whatever the machine running the tests has.
    if (v.rfind("DISPLAY=", 0) == 0 || v.rfind("WAYLAND_DISPLAY=", 0) == 0) continue;
    if (overridden(v)) continue;  // the test's value wins; getenv would find the first
    store.push_back(v);
  }
  for (const auto& v : extra) store.push_back(v);
  std::vector<char*> out;
  for (auto& v : store) out.push_back(v.data());
  out.push_back(nullptr);
  return out;
}

struct Spawned {
  pid_t pid = -1;
  int in = -1, out = -1, err = -1;
};

Spawned Spawn(const std::string& exe, const RunOptions& o) {
  int pin[2], pout[2], perr[2];
  if (pipe2(pin, O_CLOEXEC) || pipe2(pout, O_CLOEXEC) || pipe2(perr, O_CLOEXEC))
    throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, pin[0], 0);
  posix_spawn_file_actions_adddup2(&fa, pout[1], 1);
  posix_spawn_file_actions_adddup2(&fa, perr[1], 2);
  if (!o.cwd.empty()) posix_spawn_file_actions_addchdir_np(&fa, o.cwd.c_str());
  std::vector<std::string> argStore{exe};
  argStore.insert(argStore.end(), o.args.begin(), o.args.end());
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStore;
  std::vector<char*> envp = Environment(o.extraEnv, envStore);
  Spawned s;
  int rc = posix_spawn(&s.pid, exe.c_str(), &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  close(pin[0]);
  close(pout[1]);
  close(perr[1]);
  if (rc != 0) throw std::runtime_error("cannot start " + exe + ": " + std::strerror(rc));
  s.in = pin[1];
  s.out = pout[0];
  s.err = perr[0];
  return s;
}

}  // namespace

ProgramFolder::ProgramFolder(bool withArchiver, bool linkBinaries) : root_("qvu-e2e") {
  path_ = root_ / "program folder/";  // a blank in the path, as on real installations
  work_ = root_ / "work";
  fs::create_directories(path_);
  fs::create_directories(work_);
  auto place = [&](const std::string& name) {
    std::error_code ec;
    if (linkBinaries) fs::create_hard_link(QVU_BIN_DIR "/" + name, path_ + name, ec);
    if (!linkBinaries || ec) fs::copy_file(QVU_BIN_DIR "/" + name, path_ + name);
  };
  place("QueltaVersionUp");
  if (withArchiver) place("7-ZIP32.DLL");
}

pid_t StartProgram(const std::string& exe, const RunOptions& o) {
  Spawned s = Spawn(exe, o);
  close(s.in);
  close(s.out);
  close(s.err);
  return s.pid;
}

void KillProgram(pid_t pid, int sig) {
  kill(pid, sig);
  int status = 0;
  waitpid(pid, &status, 0);
}

namespace {

// Feeds the rest of the input, collects both outputs until they close, and reaps the program
// (killing it at the time limit).
RunResult Collect(Spawned s, const RunOptions& o, size_t written) {
  signal(SIGPIPE, SIG_IGN);
  if (s.in >= 0 && written == o.input.size()) {
    close(s.in);
    s.in = -1;
  }
  RunResult r;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(o.timeoutSeconds);
  while (s.out >= 0 || s.err >= 0) {
    pollfd fds[3];
    int n = 0;
    if (s.out >= 0) fds[n++] = {s.out, POLLIN, 0};
    if (s.err >= 0) fds[n++] = {s.err, POLLIN, 0};
    if (s.in >= 0) fds[n++] = {s.in, POLLOUT, 0};
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    if (poll(fds, n, static_cast<int>(left)) <= 0) continue;
    for (int i = 0; i < n; ++i) {
      if (!fds[i].revents) continue;
      if (fds[i].fd == s.in) {
        ssize_t w = write(s.in, o.input.data() + written, o.input.size() - written);
        if (w > 0) written += static_cast<size_t>(w);
        if (w < 0 || written == o.input.size()) {
          close(s.in);
          s.in = -1;
        }
        continue;
      }
      char buf[65536];
      ssize_t got = read(fds[i].fd, buf, sizeof buf);
      int& fd = fds[i].fd == s.out ? s.out : s.err;
      std::string& sink = fds[i].fd == s.out ? r.out : r.err;
      if (got <= 0) {
        close(fd);
        fd = -1;
      } else {
        sink.append(buf, static_cast<size_t>(got));
      }
    }
  }
  for (int fd : {s.in, s.out, s.err})
    if (fd >= 0) close(fd);
  int status = 0;
  if (s.out >= 0 || s.err >= 0 || waitpid(s.pid, &status, WNOHANG) == 0) {
    // Still running at the limit: end it so no copy outlives the test.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (waitpid(s.pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > until) {
        KillProgram(s.pid, SIGKILL);
        return r;
      }
      usleep(20000);
    }
  }
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

}  // namespace

RunResult RunProgram(const std::string& exe, const RunOptions& o) { return Collect(Spawn(exe, o), o, 0); }

StartedProgram::StartedProgram(const std::string& exe, const RunOptions& options) : options_(options) {
  Spawned s = Spawn(exe, options);
  // The input is a line or two: it fits the pipe, so it goes in at once.
  signal(SIGPIPE, SIG_IGN);
  size_t written = 0;
  while (written < options.input.size()) {
    ssize_t w = write(s.in, options.input.data() + written, options.input.size() - written);
    if (w <= 0) break;
    written += static_cast<size_t>(w);
  }
  close(s.in);
  pid_ = s.pid;
  out_ = s.out;
  err_ = s.err;
}

StartedProgram::~StartedProgram() {
  if (!waited_) {
    kill(pid_, SIGKILL);
    Wait();
  }
}

bool StartedProgram::WaitStopped(int timeoutSeconds) {
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  while (std::chrono::steady_clock::now() < until) {
    int status = 0;
    pid_t got = waitpid(pid_, &status, WNOHANG | WUNTRACED);
    if (got == pid_) return WIFSTOPPED(status);
    if (got < 0) return false;
    usleep(10000);
  }
  return false;
}

void StartedProgram::Continue() { kill(pid_, SIGCONT); }

RunResult StartedProgram::Wait() {
  waited_ = true;
  Spawned s;
  s.pid = pid_;
  s.out = out_;
  s.err = err_;
  return Collect(s, options_, options_.input.size());
}

bool LockIsHeld() {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const char name[] = "QueltaVersionUp";
  std::memcpy(addr.sun_path + 1, name, sizeof name - 1);
  socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + sizeof name);
  bool held = bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0;
  close(fd);
  return held;
}

std::string ReadFile(const std::string& path) {
  return fs::exists(path) ? ReadFileBytes(path) : "";
}

void WriteFile(const std::string& path, const std::string& content) {
  fs::create_directories(fs::path(path).parent_path());
  WriteFileBytes(path, content);
}

namespace {

// Small files as they are, so a failure shows what changed; large ones by size and digest,
// so a failure message stays small.
std::string Shown(std::string content) {
  if (content.size() <= 64) return content;
  uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : content) h = (h ^ c) * 1099511628211ull;
  return std::to_string(content.size()) + " bytes, fnv " + std::to_string(h);
}

}  // namespace

std::vector<std::pair<std::string, std::string>> Snapshot(const std::string& folder) {
  std::vector<std::pair<std::string, std::string>> files;
  for (auto& e : fs::recursive_directory_iterator(folder)) {
    if (!e.is_regular_file()) continue;
    files.push_back({fs::relative(e.path(), folder).string(), Shown(ReadFile(e.path().string()))});
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string PeImage(const std::string& version) {
  return ReadFile(std::string(QVU_E2E_PE_DIR) + "/app-" + version + ".exe");
}

std::string MakeZip(const std::vector<std::pair<std::string, std::string>>& files) {
  TempFolder dir("qvu-zip");
  for (const auto& [name, content] : files) WriteFile(dir / ("src/" + name), content);
  std::string cmd = "cd '" + dir / "src" + "' && zip -qr ../a.zip .";
  if (std::system(cmd.c_str()) != 0) throw HarnessError("zip failed: " + cmd);
  return ReadFile(dir / "a.zip");
}

FolderState StateOf(const std::string& folder, const std::vector<std::string>& skip) {
  FolderState state;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
    const std::string rel = fs::relative(it->path(), folder).string();
    if (std::find(skip.begin(), skip.end(), rel) != skip.end()) {
      it.disable_recursion_pending();
      continue;
    }
    if (it->is_directory()) {
      state[rel] = "folder";
      continue;
    }
    std::string revision, error;
    GetRevisionNo(it->path().string(), 9, revision, error);
    state[rel] = Shown(ReadFile(it->path().string())) + ", revision '" + revision + "'";
  }
  return state;
}

std::string Difference(const FolderState& got, const FolderState& want) {
  std::string out;
  for (const auto& [path, what] : want)
    if (!got.count(path))
      out += "  missing " + path + "\n";
    else if (got.at(path) != what)
      out += "  changed " + path + ": " + got.at(path) + ", was " + what + "\n";
  for (const auto& [path, what] : got)
    if (!want.count(path)) out += "  extra " + path + "\n";
  return out;
}

}  // namespace qvu::testing
