// Runs the built updater the way a user's shell would: in a program folder of its own, with a
// chosen current directory, arguments and standard input, and collects what it printed.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <utility>

#include "tests/harness/ChildProcess.h"
#include <vector>

namespace qvu::testing {

struct RunResult {
  int exitCode = -1;  // -1 when it did not end by itself within the time limit
  std::string out, err;
};

// A fresh program folder: the updater and its archiver library copied from the build
// (copied, not linked: the program folder is the folder of the real file).
class ProgramFolder {
 public:
  // withArchiver false leaves 7-ZIP32.DLL out, as on a machine that never had it.
  // linkBinaries makes the two a hard link to the build's files where it can (for tests that
  // make many folders and never let anything write into them).
  explicit ProgramFolder(bool withArchiver = true, bool linkBinaries = false);
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

// A program started with its input given at once, waited for later: a test can let it stop
// (SIGSTOP, from the fault-injection library), act while it waits, and let it go on.
class StartedProgram {
 public:
  StartedProgram(const std::string& exe, const RunOptions& options);
  ~StartedProgram();  // kills it when it was not waited for
  StartedProgram(const StartedProgram&) = delete;
  StartedProgram& operator=(const StartedProgram&) = delete;

  pid_t pid() const { return pid_; }
  // True once it has stopped; false when it ended or the time ran out first.
  bool WaitStopped(int timeoutSeconds);
  void Continue();
  // Collects its output until it ends, as RunProgram does.
  RunResult Wait();

 private:
  RunOptions options_;
  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
  bool waited_ = false;
};

// Whether the single-instance lock is held by some process right now.
bool LockIsHeld();

// Helpers for the program folder's state.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
// Every regular file below a folder by path relative to it, with its content (a digest for
// files over 64 bytes).
std::vector<std::pair<std::string, std::string>> Snapshot(const std::string& folder);

// A program image of the given file version, built with the tests (QVU_E2E_PE_DIR).
std::string PeImage(const std::string& version);
// An archive made by Info-ZIP's zip from files (relative path, content) laid out in a
// scratch folder.
std::string MakeZip(const std::vector<std::pair<std::string, std::string>>& files);

// A folder as the shop sees it: every folder and file below it by relative path, a file with
// its content (by digest) and revision number. Entries named in `skip` (relative paths) are
// left out with what lies below them.
using FolderState = std::map<std::string, std::string>;
FolderState StateOf(const std::string& folder, const std::vector<std::string>& skip = {});
// What differs, one line each, for a failure message.
std::string Difference(const FolderState& got, const FolderState& want);

}  // namespace qvu::testing
