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
  // The copy must be whole on disk before the merge changes the first name of the original.
  return FlushFolder(to.string());
}

// The path as the file system resolves it, without a trailing separator.
fs::path Resolved(const std::string& path, std::error_code& ec) {
  fs::path p = fs::weakly_canonical(fs::path(path), ec);
  if (!p.empty() && p.filename().empty()) p = p.parent_path();
  return p;
}

bool IsWithin(const fs::path& inner, const fs::path& outer) {
  auto o = outer.begin();
  for (auto i = inner.begin(); o != outer.end(); ++o, ++i)
    if (i == inner.end() || *i != *o) return false;
  return true;
}

}  // namespace

bool BackupTree(const std::string& source, const std::string& backup) {
  fs::path to(backup);
  std::error_code ec;
  // A copy inside the folder it copies would copy itself until the path is too long.
  std::error_code ecFrom, ecInto;
  fs::path from = Resolved(source, ecFrom), into = Resolved(backup, ecInto);
  if (ecFrom || ecInto || IsWithin(into, from)) return false;
  fs::create_directories(to.parent_path(), ec);
  if (CopyLevel(source, to) && FlushFolder(to.parent_path().string())) return true;
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
