#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/Filesystem.h"
#include "support/FileOps.h"

namespace qvu {
namespace {

// Deeper trees than this are not ours; refusing them keeps recursion and open descriptors
// bounded.
constexpr int kMaxDepth = 256;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  // Closing is the last chance to hear of a failed write.
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return fd < 0 || close(fd) == 0;
  }

 private:
  int fd_;
};


// False only when the flush failed to write: EINVAL, EROFS and ENOTSUP say that this file
// system has nothing it can or need flush (folders on some file systems, read-only mounts),
// and an entry we may not open is one we cannot flush either.
bool SyncPath(const std::string& path, int flags) {
  Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | flags));
  if (fd.get() < 0 || fsync(fd.get()) == 0) return true;
  return errno == EINVAL || errno == EROFS || errno == ENOTSUP;
}

// The moved entry and the folder that now names it reach the disk before the move reports
// success: an update that claims a file is in place must not lose it to a power cut.
bool FlushMoved(const std::string& to) {
  struct stat st {};
  if (lstat(to.c_str(), &st) != 0) return false;
  if (S_ISREG(st.st_mode) && !SyncPath(to, O_NOFOLLOW)) return false;
  return SyncPath(ParentOf(to), O_DIRECTORY);
}

bool WriteAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t put = write(fd, p, n);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    p += put;
    n -= static_cast<size_t>(put);
  }
  return true;
}

bool CopyContent(int in, int out) {
  std::vector<char> buf(1 << 18);
  for (;;) {
    ssize_t got = read(in, buf.data(), buf.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    if (!WriteAll(out, buf.data(), static_cast<size_t>(got))) return false;
  }
}

// Copies the extended attributes of every namespace this process may read. The revision
// number lives in a user attribute, so failing to carry a user attribute fails the copy;
// others (security labels, ACLs) follow where the target file system takes them.
bool CopyAttributes(int in, int out) {
  std::vector<char> names;
  for (int attempt = 0;; ++attempt) {
    ssize_t size = flistxattr(in, nullptr, 0);
    if (size < 0) return errno == ENOTSUP;  // the source can hold none
    if (size == 0) return true;
    names.resize(static_cast<size_t>(size));
    size = flistxattr(in, names.data(), names.size());
    if (size >= 0) {
      names.resize(static_cast<size_t>(size));
      break;
    }
    if (errno != ERANGE || attempt == 3) return false;  // ERANGE: the list grew meanwhile
  }
  std::vector<char> value;
  for (size_t at = 0; at < names.size();) {
    std::string name(names.data() + at);
    at += name.size() + 1;
    bool needed = name.rfind("user.", 0) == 0;
    value.resize(65536);
    ssize_t size = fgetxattr(in, name.c_str(), value.data(), value.size());
    if (size < 0 || fsetxattr(out, name.c_str(), value.data(), static_cast<size_t>(size), 0) != 0) {
      if (needed) return false;
    }
  }
  return true;
}

// Copies times, mode, owner and attributes of `src` onto the open `out`.
bool CopyMetadata(const struct stat& src, int in, int out) {
  if (fchown(out, src.st_uid, src.st_gid) != 0) {
    // Only the owner of the process can be given away without privilege; keep ours.
  }
  if (fchmod(out, src.st_mode & 07777) != 0 || !CopyAttributes(in, out)) return false;
  const struct timespec times[2] = {src.st_atim, src.st_mtim};
  return futimens(out, times) == 0;
}

// A copy in a temporary name beside the target, flushed, then renamed over it: the target
// is at every moment either the old file or the complete new one.
bool CopyFileAcross(const std::string& from, const std::string& to) {
  Fd in(open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat st {};
  if (in.get() < 0 || fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::string temp = ParentOf(to) + "/." + BaseName(to) + ".qvu-XXXXXX";
  Fd out(mkostemp(temp.data(), O_CLOEXEC));
  if (out.get() < 0) return false;
  bool ok = CopyContent(in.get(), out.get()) && CopyMetadata(st, in.get(), out.get()) &&
            fsync(out.get()) == 0;
  ok = out.Close() && ok;
  if (ok && rename(temp.c_str(), to.c_str()) == 0) return true;
  unlink(temp.c_str());
  return false;
}

bool CopySymlinkAcross(const std::string& from, const std::string& to) {
  std::vector<char> target(4097);
  ssize_t n = readlink(from.c_str(), target.data(), target.size() - 1);
  if (n < 0 || static_cast<size_t>(n) >= target.size() - 1) return false;
  target[static_cast<size_t>(n)] = '\0';
  std::string temp = ParentOf(to) + "/." + BaseName(to) + ".qvu-link-" + std::to_string(getpid());
  unlink(temp.c_str());
  if (symlink(target.data(), temp.c_str()) != 0) return false;
  if (rename(temp.c_str(), to.c_str()) == 0) return true;
  unlink(temp.c_str());
  return false;
}

// One entry that is not a folder, replacing whatever non-folder `to` names. Across file
// systems the source is deleted only once the copy is in place.
Moved MoveEntryOnce(const std::string& from, const std::string& to, bool flush) {
  if (rename(from.c_str(), to.c_str()) == 0)
    return !flush || FlushMoved(to) ? Moved::Yes : Moved::NotDurable;
  if (errno != EXDEV) return Moved::No;
  struct stat st {};
  if (lstat(from.c_str(), &st) != 0) return Moved::No;
  bool copied = S_ISLNK(st.st_mode)   ? CopySymlinkAcross(from, to)
                : S_ISREG(st.st_mode) ? CopyFileAcross(from, to)
                                      : false;  // FIFOs and devices are not ours to carry
  if (!copied) return Moved::No;
  if (flush && !SyncPath(ParentOf(to), O_DIRECTORY)) return Moved::NotDurable;
  return unlink(from.c_str()) == 0 ? Moved::Yes : Moved::No;
}

std::vector<std::string> EntryNames(int dirfd) {
  std::vector<std::string> names;
  int dup = fcntl(dirfd, F_DUPFD_CLOEXEC, 0);
  if (dup < 0) return names;
  DIR* d = fdopendir(dup);
  if (!d) {
    close(dup);
    return names;
  }
  while (const dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  return names;
}

// What a folder move has to flush: the entries that took a new name (files, and folders
// moved whole) and the folders whose names it changed.
struct Placed {
  std::vector<std::string> entries, folders;
};

// Moves the folder `from` onto `to`, merging into a folder already there and replacing its
// files of the same name, as the shell's move does. Restartable: what moved is gone from the
// source, so a later try carries only the rest. What it placed is added to `placed`, for the
// caller to flush.
bool MoveTree(const std::string& from, const std::string& to, int depth, Placed& placed) {
  if (depth > kMaxDepth) return false;
  struct stat src {}, dst {};
  if (lstat(from.c_str(), &src) != 0 || !S_ISDIR(src.st_mode)) return false;
  bool created = false;
  // Only the destination named by the caller is followed if it is a link; inside the tree a
  // link is an entry like any other.
  int found = depth == 0 ? stat(to.c_str(), &dst) : lstat(to.c_str(), &dst);
  if (found != 0) {
    if (errno != ENOENT) return false;
    if (rename(from.c_str(), to.c_str()) == 0) {
      placed.entries.push_back(to);
      placed.folders.push_back(ParentOf(to));
      return true;
    }
    // The source's mode at once (writable for us while we fill it), so that a folder left
    // by an interrupted copy is not narrower than the original; the rest follows at the end.
    if (errno != EXDEV || mkdir(to.c_str(), (src.st_mode & 07777) | S_IRWXU) != 0) return false;
    created = true;
  } else if (!S_ISDIR(dst.st_mode) || (dst.st_dev == src.st_dev && dst.st_ino == src.st_ino)) {
    return false;
  }
  Fd dir(open(from.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (dir.get() < 0) return false;
  if (created) placed.folders.push_back(ParentOf(to));
  placed.folders.push_back(to);
  bool ok = true;
  for (const std::string& name : EntryNames(dir.get())) {
    std::string child = from + "/" + name, target = to + "/" + name;
    struct stat st {};
    if (lstat(child.c_str(), &st) != 0) {
      ok = false;
    } else if (S_ISDIR(st.st_mode)) {
      ok = MoveTree(child, target, depth + 1, placed) && ok;
    } else {
      struct stat existing {};
      bool folderInWay = lstat(target.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode);
      bool moved = !folderInWay && MoveEntryOnce(child, target, false) == Moved::Yes;
      if (moved) placed.entries.push_back(target);
      ok = moved && ok;
    }
  }
  if (!ok) return false;
  if (created) {
    Fd out(open(to.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (out.get() < 0 || !CopyMetadata(src, dir.get(), out.get())) return false;
  }
  dir.Close();
  return rmdir(from.c_str()) == 0;
}

// Empties the open folder `dirfd` (and closes it). unlinkat never follows a link and openat
// with O_NOFOLLOW refuses one, so nothing outside the tree is touched even if the tree is
// changed while we walk it.
bool EmptyDirectory(int dirfd, int depth) {
  Fd dir(dirfd);
  if (depth > kMaxDepth) return false;
  bool ok = true;
  for (const std::string& name : EntryNames(dirfd)) {
    if (unlinkat(dirfd, name.c_str(), 0) == 0) continue;
    if (errno != EISDIR) {
      ok = false;
      continue;
    }
    int sub = openat(dirfd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (sub < 0 || !EmptyDirectory(sub, depth + 1) ||
        unlinkat(dirfd, name.c_str(), AT_REMOVEDIR) != 0)
      ok = false;
  }
  return ok;
}

// Every file and folder of the tree reaches the disk: what a folder move placed whole.
bool FlushTree(const std::string& path, int depth) {
  struct stat st {};
  if (depth > kMaxDepth || lstat(path.c_str(), &st) != 0) return false;
  if (S_ISREG(st.st_mode)) return SyncPath(path, O_NOFOLLOW);
  if (!S_ISDIR(st.st_mode)) return true;
  Fd dir(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (dir.get() < 0) return true;  // nothing we may open is nothing we can flush
  for (const std::string& name : EntryNames(dir.get()))
    if (!FlushTree(path + "/" + name, depth + 1)) return false;
  return SyncPath(path, O_DIRECTORY);
}

bool EntryExists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

}  // namespace

bool IsPathSeparator(char c) { return c == '/'; }

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MoveDirectory(const std::string& from, const std::string& to, int tries) {
  try {
    if (!DirectoryExists(from)) return true;
    Placed placed;  // over all tries: an earlier one may have moved part
    return RetryMove(tries, [&] {
      // An earlier try may have moved it after all.
      if (DirectoryExists(from)) {
        std::string parent = ParentOf(to);
        if (!DirectoryExists(parent) && !CreateDirectoryPath(parent)) return Moved::No;
        if (!MoveTree(StripTrailingSeparators(from), StripTrailingSeparators(to), 0, placed))
          return Moved::No;
      }
      // The content first, then the names that lead to it.
      for (const std::string& entry : placed.entries)
        if (!FlushTree(entry, 0)) return Moved::NotDurable;
      for (const std::string& folder : placed.folders)
        if (!SyncPath(folder, O_DIRECTORY)) return Moved::NotDurable;
      return Moved::Yes;
    });
  } catch (...) {
    return false;
  }
}

bool MoveFileWithRetry(const std::string& from, const std::string& to, int tries) {
  try {
    if (!FileExists(from)) return true;
    return RetryMove(tries, [&] {
      if (!EntryExists(from) && FileExists(to)) return Moved::Yes;
      return MoveEntryOnce(from, to, true);
    });
  } catch (...) {
    return false;
  }
}

// rename replaces the target in one step, so the target is never missing in between and a
// failed rename leaves the old target in place.
bool RenameFileReplacing(const std::string& from, const std::string& to) {
  try {
    if (!FileExists(from)) return true;
    return MoveEntryOnce(from, to, false) == Moved::Yes;
  } catch (...) {
    return false;
  }
}

bool DeleteDirectoryTree(const std::string& path) {
  try {
    if (!DirectoryExists(path)) return true;
    std::string p = StripTrailingSeparators(path);
    if (p == "/") return false;
    struct stat st {};
    if (lstat(p.c_str(), &st) != 0) return false;
    // A link to a folder is removed as the link; its target is not ours.
    if (S_ISLNK(st.st_mode)) return unlink(p.c_str()) == 0;
    int fd = open(p.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 || !EmptyDirectory(fd, 0)) return false;
    return rmdir(p.c_str()) == 0;
  } catch (...) {
    return false;
  }
}

bool FlushFolder(const std::string& folder) {
  try {
    return SyncPath(StripTrailingSeparators(folder), O_DIRECTORY);
  } catch (...) {
    return false;
  }
}

bool RemoveFolderIfEmpty(const std::string& folder) {
  try {
    if (rmdir(StripTrailingSeparators(folder).c_str()) == 0) return true;
    return errno == ENOENT || errno == ENOTEMPTY || errno == EEXIST;
  } catch (...) {
    return false;
  }
}

bool RemoveFile(const std::string& path) {
  try {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR;
    if (S_ISDIR(st.st_mode)) return true;
    return unlink(path.c_str()) == 0 || errno == ENOENT;
  } catch (...) {
    return false;
  }
}

bool SameEntryName(const std::string& a, const std::string& b) { return a == b; }

}  // namespace qvu
