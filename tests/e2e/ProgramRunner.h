// Runs the built updater the way a user's shell would: in a program folder of its own, with a
// chosen current directory, arguments and standard input, and collects what it printed.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>

#include "tests/harness/ChildProcess.h"
#include <vector>

namespace qvu::testing {

struct RunResult {
  int exitCode = -1;  // -1 when it did not end by itself within the time limit
  std::string out, err;
  long maxRssKiB = 0;  // the process's peak resident memory, from wait4
};

// A fresh program folder: the updater and its archiver library copied from the build
// (copied, not linked: the program folder is the folder of the real file).
class ProgramFolder {
 public:
  // withArchiver false leaves 7-ZIP32.DLL out, as on a machine that never had it.
  explicit ProgramFolder(bool withArchiver = true);
  const std::string& path() const { return path_; }  // ends with "/"
  std::string exe() const { return path_ + "QueltaVersionUp"; }
  // A work folder beside it, used as the current directory (holds SERVER.MDB).
  const std::string& workDir() const { return work_; }

 private:
  TempFolder root_;
  std::string path_, work_;
};

struct RunOptions {
  RunOptions(std::vector<std::string> arguments = {}, std::string directory = {})
      : args(std::move(arguments)), cwd(std::move(directory)) {}

  std::vector<std::string> args;
  std::string cwd;
  std::string input;  // standard input; closed after it
  std::vector<std::string> extraEnv;  // "NAME=value"
  int timeoutSeconds = 60;
};

// Starts the program without a display (the terminal front end) and waits for it.
RunResult RunProgram(const std::string& exe, const RunOptions& options);

// Starts it and returns at once; the caller ends it with KillProgram.
pid_t StartProgram(const std::string& exe, const RunOptions& options);
void KillProgram(pid_t pid, int signal);

// Whether the single-instance lock is held by some process right now.
bool LockIsHeld();

// Helpers for the program folder's state.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
// Every regular file below a folder by path relative to it, with its content (a digest for
// files over 64 bytes).
std::vector<std::pair<std::string, std::string>> Snapshot(const std::string& folder);

}  // namespace qvu::testing
