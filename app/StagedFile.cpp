#include "app/StagedFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <set>

#include "app/Process.h"
#include "support/Filesystem.h"

namespace qvu {
namespace {

constexpr off_t kWriteBehindWindow = 8 << 20;

void SyncFolder(const std::string& folder) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

}  // namespace

StagedFile::StagedFile(std::string finalPath) : final_(std::move(finalPath)) {
  static std::atomic<unsigned> counter{0};
  temp_ = PartialPrefix(final_, CurrentProcessId()) + std::to_string(counter++) + ".part";
  fd_ = open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
}

std::string StagedFile::PartialPrefix(const std::string& finalPath, uint32_t processId) {
  return ParentOf(finalPath) + "/." + BaseName(finalPath) + "." + std::to_string(processId) + ".";
}

StagedFile::~StagedFile() { Discard(); }

bool StagedFile::Write(const char* data, size_t size) {
  while (fd_ >= 0 && size > 0) {
    ssize_t n = write(fd_, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Discard();
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
    written_ += n;
  }
  if (fd_ >= 0 && written_ - flushedTo_ >= kWriteBehindWindow) {
    // Start writing the new window out, and wait for the one before it: the disk keeps
    // pace with the network without the transfer ever waiting on the window it just wrote.
    sync_file_range(fd_, flushedTo_, written_ - flushedTo_, SYNC_FILE_RANGE_WRITE);
    if (waitFrom_ < flushedTo_)
      sync_file_range(fd_, waitFrom_, flushedTo_ - waitFrom_,
                      SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    waitFrom_ = flushedTo_;
    flushedTo_ = written_;
  }
  return fd_ >= 0;
}

bool StagedFile::Finish() {
  if (fd_ < 0) return false;
  const bool ok = close(fd_) == 0;
  fd_ = -1;
  if (!ok) {
    std::remove(temp_.c_str());
    return false;
  }
  finished_ = true;
  return true;
}

void StagedFile::Discard() {
  if (fd_ >= 0) close(fd_);
  if (fd_ >= 0 || finished_) std::remove(temp_.c_str());
  fd_ = -1;
  finished_ = false;
}

size_t PlaceAll(const std::vector<StagedFile*>& files) {
  size_t flushed = 0;
  for (; flushed < files.size() && files[flushed]->finished_; ++flushed) {
    int fd = open(files[flushed]->temp_.c_str(), O_RDONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && fsync(fd) == 0;
    if (fd >= 0) close(fd);
    if (!ok) break;
  }
  size_t placed = 0;
  std::set<std::string> folders;
  for (; placed < flushed; ++placed) {
    StagedFile& f = *files[placed];
    if (std::rename(f.temp_.c_str(), f.final_.c_str()) != 0) break;
    f.finished_ = false;
    folders.insert(ParentOf(f.final_));
  }
  for (size_t i = placed; i < files.size(); ++i) files[i]->Discard();
  for (const std::string& folder : folders) SyncFolder(folder);
  return placed;
}

}  // namespace qvu
