#include "app/TreeBackup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "support/Filesystem.h"

namespace qvu {
namespace fs = std::filesystem;

namespace {

bool CopyLevel(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  struct stat st {};
  if (lstat(from.c_str(), &st) != 0 || mkdir(to.c_str(), st.st_mode & 07777) != 0) return false;
  for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path src = it->path();
    const fs::path dst = to / src.filename();
    fs::file_status s = it->symlink_status(ec);
    if (ec) return false;
    if (fs::is_directory(s)) {
      if (!CopyLevel(src, dst)) return false;
    } else if (fs::is_symlink(s)) {
      fs::copy_symlink(src, dst, ec);
      if (ec) return false;
    } else if (link(src.c_str(), dst.c_str()) != 0) {
      fs::copy_file(src, dst, ec);
      if (ec) return false;
    }
  }
  if (ec) return false;
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  utimensat(AT_FDCWD, to.c_str(), times, 0);  // after the entries, which touch the mtime
  return true;
}

}  // namespace

bool BackupTree(const std::string& source, const std::string& backup) {
  fs::path to(backup);
  std::error_code ec;
  fs::create_directories(to.parent_path(), ec);
  if (CopyLevel(source, to)) return true;
  DeleteDirectoryTree(backup);
  return false;
}

std::vector<std::string> MissingLevels(const std::string& folder) {
  std::vector<std::string> missing;
  fs::path p = fs::path(folder).lexically_normal();
  if (!p.empty() && p.filename().empty()) p = p.parent_path();  // a trailing "/"
  std::error_code ec;
  while (!p.empty() && p != p.root_path() && !fs::exists(p, ec)) {
    missing.insert(missing.begin(), p.string());
    p = p.parent_path();
  }
  return missing;
}

}  // namespace qvu
