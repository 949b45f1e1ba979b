#include "app/Process.h"

#include <spawn.h>
#include <unistd.h>

#include <climits>

extern char** environ;

namespace qvu {

uint32_t CurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

std::string RunningProgramFile(const char* fallback) {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n > 0) return std::string(buf, static_cast<size_t>(n));
  return fallback ? fallback : "";
}

bool StartProgram(const std::string& path) {
  // No shell, so nothing in the name is interpreted.
  pid_t pid = 0;
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  return ::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) == 0;
}

}  // namespace qvu
