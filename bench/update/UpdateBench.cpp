#include "bench/update/UpdateBench.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "tests/e2e/Settings.h"

extern char** environ;

namespace qvu::bench {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

bool NameIs(const std::string& entry, const std::string& nameEq) {
  return entry.compare(0, nameEq.size(), nameEq) == 0;
}

// The machine's environment without a display, with the command's own values in place of
// any it already had.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> dropped = {"DISPLAY=", "WAYLAND_DISPLAY="};
  for (const std::string& e : extra) dropped.push_back(e.substr(0, e.find('=') + 1));
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string v = *e;
    if (std::none_of(dropped.begin(), dropped.end(), [&v](const std::string& d) { return NameIs(v, d); }))
      env.push_back(v);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> out;
  for (std::string& t : texts) out.push_back(t.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace

Measured RunMeasured(const Command& c) {
  // Standard input from a file: the child reads its answer whenever it asks, and the
  // parent has only the output to follow.
  char inName[] = "/tmp/qvu-bench-in-XXXXXX";
  int in = mkstemp(inName);
  if (in < 0) throw std::runtime_error("mkstemp failed");
  unlink(inName);
  if (write(in, c.input.data(), c.input.size()) != static_cast<ssize_t>(c.input.size()))
    throw std::runtime_error("cannot write the input");
  lseek(in, 0, SEEK_SET);
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) throw std::runtime_error("pipe failed");

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in, 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_adddup2(&fa, err[1], 2);
  if (!c.cwd.empty()) posix_spawn_file_actions_addchdir_np(&fa, c.cwd.c_str());
  std::vector<std::string> argv{c.exe};
  argv.insert(argv.end(), c.args.begin(), c.args.end());
  std::vector<std::string> env = ChildEnvironment(c.extraEnv);
  std::vector<char*> argp = Pointers(argv), envp = Pointers(env);

  Measured m;
  pid_t pid = -1;
  const Clock::time_point start = Clock::now();
  int rc = posix_spawnp(&pid, c.exe.c_str(), &fa, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  close(in);
  close(out[1]);
  close(err[1]);
  if (rc != 0) {
    close(out[0]);
    close(err[0]);
    throw std::runtime_error("cannot start " + c.exe + ": " + std::strerror(rc));
  }

  const Clock::time_point deadline = start + std::chrono::seconds(c.timeoutSeconds);
  int fds[2] = {out[0], err[0]};
  bool timedOut = false;
  while (fds[0] >= 0 || fds[1] >= 0) {
    pollfd p[2];
    int n = 0;
    for (int fd : fds)
      if (fd >= 0) p[n++] = {fd, POLLIN, 0};
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      timedOut = true;
      break;
    }
    if (poll(p, n, static_cast<int>(std::min<long long>(left, 1000))) <= 0) continue;
    for (int i = 0; i < n; ++i) {
      if (!p[i].revents) continue;
      char buf[65536];
      ssize_t got = read(p[i].fd, buf, sizeof buf);
      bool isOut = p[i].fd == fds[0];
      if (got <= 0) {
        close(p[i].fd);
        fds[isOut ? 0 : 1] = -1;
        continue;
      }
      (isOut ? m.out : m.err).append(buf, static_cast<size_t>(got));
      if (isOut) {
        const double t = Since(start);
        for (ssize_t k = 0; k < got; ++k)
          if (buf[k] == '\n') m.lineSeconds.push_back(t);
      }
    }
  }
  for (int fd : fds)
    if (fd >= 0) close(fd);
  if (timedOut) kill(pid, SIGKILL);

  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  m.seconds = Since(start);
  m.maxRssKiB = usage.ru_maxrss;
  m.exitCode = !timedOut && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return m;
}

UpdaterSetup::UpdaterSetup()
    : cert_(testing::CertificateAuthority::Shared().Issue("localhost")),
      service_(std::make_unique<testing::TestService>(cert_)),
      folder_(std::make_unique<testing::ProgramFolder>()) {
  PointAt(service_->Port());
}

void UpdaterSetup::PointAt(int port) {
  const std::string db = folder_->workDir() + "/SERVER.MDB";
  fs::remove(db);
  testing::MakeSettingsDb(db, testing::SettingsRows("localhost:" + std::to_string(port)));
  if (!fs::exists(db)) throw std::runtime_error("make-settings-db did not write " + db);
}

UpdaterSetup::~UpdaterSetup() = default;

std::string UpdaterSetup::RootFile() const { return testing::CertificateAuthority::Shared().RootFile(); }

void UpdaterSetup::ServeList(const std::vector<testing::Entry>& entries) {
  service_->SetRoute("GET", "/quelta/api/office/gvermgr",
                     testing::Route::Ok(testing::VersionListXml(entries),
                                        {{"Content-Type", "text/xml; charset=UTF-8"}}));
}

Measured UpdaterSetup::Run(const std::string& answer) {
  for (int i = 0; i < 600 && testing::LockIsHeld(); ++i) usleep(100000);
  Command c;
  c.exe = folder_->exe();
  c.args = {"APP"};
  c.cwd = folder_->workDir();
  c.input = answer;
  c.extraEnv = {"SSL_CERT_FILE=" + RootFile()};
  return RunMeasured(c);
}

ScratchFolder::ScratchFolder() {
  char tmpl[] = "/tmp/qvu-bench-XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void Require(bool ok, const std::string& what, const Measured& m) {
  if (ok) return;
  // Enough of what it printed to tell why; a run of thousands of files prints thousands of lines.
  const std::string printed = (m.err + m.out).substr(0, 2000);
  throw std::runtime_error(what + " (exit " + std::to_string(m.exitCode) + "): " + printed);
}

Measured RunSingleDownload(UpdaterSetup& s, const std::string& name, long long size) {
  s.ServeList({{{"FILENAME", name}, {"ZIPFILENAME", name}}});
  Settle();
  Measured m = s.Run("y\n");
  Require(m.exitCode == 0 && m.err.empty() && m.out.find("1件中 1件更新しました") != std::string::npos,
          "the updater's run of " + name + " failed", m);
  std::error_code ec;
  Require(fs::file_size(s.P(name), ec) == static_cast<uintmax_t>(size), name + " arrived short", m);
  fs::remove(s.P(name));
  return m;
}

void MakeSparseFile(const std::string& path, long long size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = fd >= 0 && ftruncate(fd, size) == 0;
  if (fd >= 0) close(fd);
  if (!ok) throw std::runtime_error("cannot make " + path);
}

int Main(const char* name, const std::function<void()>& body) {
  try {
    body();
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", name, e.what());
    return 1;
  }
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string Verdict(bool met) { return met ? "met" : "MISSED"; }

void Settle() { sync(); }

}  // namespace qvu::bench
