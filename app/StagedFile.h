// A file that takes its name only when it is complete and on the disk: the bytes go to a
// temporary file in the same folder as they arrive; Finish closes it, and PlaceAll flushes
// it to disk and a rename puts it in place (replacing any file of that name). Until then
// nobody sees a partial file under the final name; a StagedFile destroyed before it was
// placed leaves nothing behind.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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
  // The last byte is written: closes the file. False leaves nothing behind.
  bool Finish();
  // Where the finished file lies until it is placed, and where it goes.
  const std::string& TempPath() const { return temp_; }
  const std::string& FinalPath() const { return final_; }
  void Discard();

 private:
  friend size_t PlaceAll(const std::vector<StagedFile*>& files);

  std::string final_, temp_;
  int fd_ = -1;
  bool finished_ = false;  // closed, complete, not yet placed
  // Write-back runs behind the transfer, a window at a time, so that the flush finds little
  // left to write and the dirty pages of a large file stay bounded.
  off_t written_ = 0, flushedTo_ = 0, waitFrom_ = 0;
};

// Puts finished files in place, in order. Every one is flushed to disk before any takes its
// name, and each folder is flushed once at the end rather than once for every file placed in
// it: half the flushes of placing each file as it arrives. Gives how many, from the first,
// are in place; the one after them, if any, could not be flushed or renamed, and it and the
// rest are discarded.
size_t PlaceAll(const std::vector<StagedFile*>& files);

}  // namespace qvu
