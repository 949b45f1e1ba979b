// What the update benchmarks share: a measured run of a child process (wall time, peak
// memory, when each line of its output arrived) and the built updater set up against the
// local test service, as the end-to-end tests drive it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/ProgramRunner.h"
#include "tests/e2e/VersionList.h"
#include "tests/harness/Harness.h"

namespace qvu::bench {

struct Measured {
  int exitCode = -1;      // -1 when it did not end by itself in time or died by a signal
  double seconds = 0;     // from the start of the child to its end, wall clock
  long maxRssKiB = 0;     // the child's maximum resident set size, from wait4
  std::string out, err;
  std::vector<double> lineSeconds;  // for each line of standard output: when its end arrived
};

struct Command {
  std::string exe;
  std::vector<std::string> args;
  std::string cwd;
  std::string input;                  // standard input, then end of input
  std::vector<std::string> extraEnv;  // "NAME=value"; replaces a value the environment has
  int timeoutSeconds = 900;
};

// Runs it without a display (the terminal front end for the updater) and waits for it.
// Throws std::runtime_error when it cannot be started.
Measured RunMeasured(const Command& command);

// The built updater in a fresh program folder, with its SERVER.MDB pointing at a local
// test service over TLS, trusted through SSL_CERT_FILE.
class UpdaterSetup {
 public:
  UpdaterSetup();
  ~UpdaterSetup();

  testing::TestService& Service() { return *service_; }
  const testing::ProgramFolder& Folder() const { return *folder_; }
  std::string P(const std::string& rel) const { return folder_->path() + rel; }
  std::string RootFile() const;
  int Port() const { return service_->Port(); }

  void ServeList(const std::vector<testing::Entry>& entries);
  // SERVER.MDB names localhost at this port instead of the service's (a relay in between).
  void PointAt(int port);
  // One run of the updater in category APP, answering the question with answer. The
  // single-instance lock is machine-wide (per network namespace): while some other copy
  // holds it, this waits rather than measuring the refusal.
  Measured Run(const std::string& answer);

 private:
  testing::Certificate cert_;
  std::unique_ptr<testing::TestService> service_;
  std::unique_ptr<testing::ProgramFolder> folder_;
};

// A folder below /tmp removed with everything in it at the end.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  const std::string& Path() const { return path_; }  // without a trailing "/"

 private:
  std::string path_;
};

// Throws when a run did not do what is being measured: a fast failure is no figure.
void Require(bool ok, const std::string& what, const Measured& m);
// A run whose version list holds one new file, name of size bytes, answered "y"; checks
// that it arrived whole in the program folder, then removes it for the next run.
Measured RunSingleDownload(UpdaterSetup& s, const std::string& name, long long size);
// A sparse file: the service reads its zeros from the page cache, so the disk under the
// source limits no peer.
void MakeSparseFile(const std::string& path, long long size);

// The body of a benchmark's main: 0 when it measured (whether or not the goal was met), 1
// with the reason on standard error when it could not.
int Main(const char* name, const std::function<void()>& body);

double Median(std::vector<double> values);
std::string Verdict(bool met);  // "met" or "MISSED"
// Lets written data reach the disk so that one run's write-back does not slow the next.
void Settle();

}  // namespace qvu::bench
