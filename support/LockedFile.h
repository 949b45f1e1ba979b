// A file that one process at a time holds under an exclusive advisory lock: every copy of the
// program that sees the file respects it, whatever session or container it runs in, and the
// lock ends with the object or with the process, however the process ends.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace qvu {

class LockedFile {
 public:
  enum class Status {
    Held,    // the lock is ours
    Busy,    // another process holds it
    Failed,  // the file cannot be opened or created
  };

  // Opens `path`, creating it empty when missing, and takes the lock without waiting. A holder
  // may remove the file before it lets go; the lock is then taken again on the file the path
  // names now, so that it never ends up on a removed one.
  static Status Acquire(const std::string& path, std::unique_ptr<LockedFile>& held);

  ~LockedFile();
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;

  const std::string& path() const { return path_; }
  // The whole content; false when it cannot be read or is larger than maxSize.
  bool ReadAll(std::string& bytes, size_t maxSize) const;
  // Appends the bytes and flushes them to disk before it returns.
  bool Append(const std::string& bytes);
  // Removes the file while the lock is still ours.
  bool Remove();

 private:
  LockedFile(std::string path, intptr_t handle) : path_(std::move(path)), handle_(handle) {}

  std::string path_;
  intptr_t handle_;  // the platform's handle of the open file
};

}  // namespace qvu
