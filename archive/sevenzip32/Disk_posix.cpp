#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "archive/sevenzip32/Disk.h"

namespace sevenzip32 {

bool PrepareFolder(const std::string& folder, std::string& root, std::string& reason) {
  std::string path = folder.empty() ? "." : folder;
  std::replace(path.begin(), path.end(), '\\', '/');
  // Each level in turn, so that a missing folder is made with its missing parents.
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string level = path.substr(0, slash);
    if (!level.empty() && mkdir(level.c_str(), 0777) != 0 && errno != EEXIST) {
      reason = "cannot create the output folder";
      return false;
    }
    if (slash == std::string::npos) break;
  }
  // The resolved folder has no links and no "..", so libarchive's check that nothing is
  // extracted through a link holds for the folder's own path as well.
  char resolved[PATH_MAX];
  struct stat st;
  if (realpath(path.c_str(), resolved) == nullptr || stat(resolved, &st) != 0 || !S_ISDIR(st.st_mode)) {
    reason = "cannot create the output folder";
    return false;
  }
  root = resolved;
  if (root != "/") root += '/';
  return true;
}

bool IsLink(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

void RemoveFile(const std::string& path) { unlink(path.c_str()); }

// A file's own mode does not stop its replacement: the folder's does.
void AllowReplacing(const std::string&) {}

bool NameAllowed(const std::string&) { return true; }

bool CanMakeSymbolicLinks() { return true; }

}  // namespace sevenzip32
