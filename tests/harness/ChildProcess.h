// Child processes and temporary folders for the test doubles: nothing a test starts or
// creates may outlive it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

namespace qvu::testing {

struct HarnessError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix = "qvu-test");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return path_; }
  // Path() + "/" + name.
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A started program. Its standard output is a pipe read with ReadLine when captureStdout
// is set, else inherited; standard error is always inherited so its complaints show in the
// test's output. The child gets SIGKILL if the starting thread ends before it does.
class ChildProcess {
 public:
  // argv[0] is looked up on PATH when it has no "/".
  ChildProcess(const std::vector<std::string>& argv, bool captureStdout);
  ~ChildProcess();  // Stop()
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return pid_; }
  bool Running();
  // One line of standard output without its line end; throws HarnessError when the child
  // closes its output or the time runs out first.
  std::string ReadLine(std::chrono::milliseconds timeout);
  // SIGTERM, then SIGKILL when it has not gone within a second; always reaped. Idempotent.
  void Stop();

 private:
  std::string name_;
  pid_t pid_ = -1;
  int stdoutFd_ = -1;
  std::string pending_;
};

// Runs a program to its end with standard output and error collected in output; returns
// its exit status (-1 when it could not be started or was killed).
int RunProgram(const std::vector<std::string>& argv, std::string* output);

// Debian's python3 (QVU_PYTHON overrides); throws HarnessError naming the package when absent.
std::string PythonInterpreter();
// Throws HarnessError when program is not found on PATH (or as a path).
std::string RequireProgram(const std::string& program, const std::string& package);
// Waits until something accepts TCP connections on 127.0.0.1:port.
bool WaitForPort(int port, std::chrono::milliseconds timeout);
// A port that was free a moment ago (for programs that cannot report the one they took).
int PickFreePort();

}  // namespace qvu::testing
