// A file that takes its name only when it is complete: the bytes go to a temporary file in
// the same folder as they arrive, are flushed to disk, and a rename puts the file in place
// (replacing any file of that name). Until Commit, nobody sees a partial file under the
// final name; a StagedFile destroyed without Commit leaves nothing behind.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace qvu {

class StagedFile {
 public:
  explicit StagedFile(std::string finalPath);
  ~StagedFile();
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  // Where the bytes of a download to `finalPath` by process `processId` gather until Commit:
  // the temporary names begin with this (and end in ".part").
  static std::string PartialPrefix(const std::string& finalPath, uint32_t processId);

  bool ok() const { return fd_ >= 0; }
  // False on a write error; the file is then unusable.
  bool Write(const char* data, size_t size);
  // Flush, close, rename into place, flush the folder. False leaves nothing behind.
  bool Commit();
  void Discard();

 private:
  std::string final_, temp_;
  int fd_ = -1;
  // Write-back runs behind the transfer, a window at a time, so that the flush at Commit
  // finds little left to write and the dirty pages of a large file stay bounded.
  off_t written_ = 0, flushedTo_ = 0, waitFrom_ = 0;
};

}  // namespace qvu
