#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "support/LockedFile.h"

namespace qvu {
namespace {

// A holder that removes the file between our open and our lock makes us retry; more tries
// than this mean something keeps replacing it.
constexpr int kMaxTries = 8;

bool SameFile(int fd, const std::string& path) {
  struct stat held {}, named {};
  return fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
         held.st_ino == named.st_ino;
}

}  // namespace

LockedFile::Status LockedFile::Acquire(const std::string& path, std::unique_ptr<LockedFile>& held) {
  held.reset();
  for (int i = 0; i < kMaxTries; ++i) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return Status::Failed;
    // flock, not fcntl locks: it belongs to this open file, so no other open of the same file
    // in this process can drop it by closing.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      int err = errno;
      close(fd);
      return err == EWOULDBLOCK ? Status::Busy : Status::Failed;
    }
    if (SameFile(fd, path)) {
      held.reset(new LockedFile(path, fd));
      return Status::Held;
    }
    close(fd);
  }
  return Status::Failed;
}

LockedFile::~LockedFile() { close(static_cast<int>(handle_)); }

bool LockedFile::ReadAll(std::string& bytes, size_t maxSize) const {
  const int fd = static_cast<int>(handle_);
  bytes.clear();
  struct stat st {};
  if (fstat(fd, &st) != 0 || st.st_size < 0 || static_cast<uint64_t>(st.st_size) > maxSize)
    return false;
  bytes.resize(static_cast<size_t>(st.st_size));
  size_t got = 0;
  while (got < bytes.size()) {
    ssize_t n = pread(fd, bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  return got == static_cast<size_t>(st.st_size);
}

bool LockedFile::Append(const std::string& bytes) {
  const int fd = static_cast<int>(handle_);
  off_t end = lseek(fd, 0, SEEK_END);
  if (end < 0) return false;
  size_t put = 0;
  while (put < bytes.size()) {
    ssize_t n = pwrite(fd, bytes.data() + put, bytes.size() - put, end + static_cast<off_t>(put));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    put += static_cast<size_t>(n);
  }
  return fdatasync(fd) == 0;
}

bool LockedFile::Remove() { return unlink(path_.c_str()) == 0 || errno == ENOENT; }

}  // namespace qvu
